/*
 * kelm3_win32.h - the subset of Win32 that the kelm3 interface is expressed in,
 * for platforms other than Windows.
 *
 * On Windows, kelm3.h includes <windows.h> instead and this file is not used.
 * Elsewhere it supplies the Win32 integer types with their Win32 sizes (LONG,
 * DWORD, UINT and BOOL are 32 bits even on LP64), the bitmap records with their
 * Win32 layouts, and the global-memory functions of libkelm3, so that an
 * application creates, locks and frees image blocks exactly as it would on
 * Windows. Plain C99; usable from C++.
 */
#ifndef KELM3_WIN32_H
#define KELM3_WIN32_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#ifndef KELM3_API
#define KELM3_API __attribute__((visibility("default")))
#endif

#define WINAPI
#define CALLBACK
#define FAR
#define NEAR

typedef int32_t BOOL;
typedef uint8_t BYTE;
typedef uint16_t WORD;
typedef uint32_t DWORD;
typedef int32_t LONG;
typedef uint32_t ULONG;
typedef int32_t INT;
typedef uint32_t UINT;
typedef int16_t SHORT;
typedef uint16_t USHORT;
typedef char CHAR;
typedef uintptr_t UINT_PTR;
typedef intptr_t INT_PTR;
typedef uintptr_t ULONG_PTR;
typedef intptr_t LONG_PTR;
typedef size_t SIZE_T;
typedef uint64_t DWORDLONG;

typedef void *PVOID, *LPVOID;
typedef const void *LPCVOID;
typedef BYTE *PBYTE, *LPBYTE;
typedef WORD *LPWORD;
typedef DWORD *LPDWORD;
typedef LONG *LPLONG;
typedef char *LPSTR;
typedef const char *LPCSTR;

typedef void *HANDLE;
typedef HANDLE HGLOBAL;
typedef HANDLE HLOCAL;
typedef HANDLE HINSTANCE;
typedef HANDLE HMODULE;

typedef DWORD COLORREF;

typedef LONG_PTR LPARAM;
typedef UINT_PTR WPARAM;
typedef LONG_PTR LRESULT;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

#define RGB(r, g, b) ((COLORREF)(((BYTE)(r)) | ((WORD)((BYTE)(g)) << 8) | (((DWORD)(BYTE)(b)) << 16)))
#define GetRValue(c) ((BYTE)(c))
#define GetGValue(c) ((BYTE)(((WORD)(c)) >> 8))
#define GetBValue(c) ((BYTE)((c) >> 16))

typedef struct tagPOINT {
    LONG x;
    LONG y;
} POINT, *PPOINT, *LPPOINT;

typedef struct tagRECT {
    LONG left;
    LONG top;
    LONG right;
    LONG bottom;
} RECT, *PRECT, *LPRECT;

typedef struct tagRGBQUAD {
    BYTE rgbBlue;
    BYTE rgbGreen;
    BYTE rgbRed;
    BYTE rgbReserved;
} RGBQUAD, *LPRGBQUAD;

typedef struct tagRGBTRIPLE {
    BYTE rgbtBlue;
    BYTE rgbtGreen;
    BYTE rgbtRed;
} RGBTRIPLE, *LPRGBTRIPLE;

typedef struct tagBITMAPCOREHEADER {
    DWORD bcSize;
    WORD bcWidth;
    WORD bcHeight;
    WORD bcPlanes;
    WORD bcBitCount;
} BITMAPCOREHEADER, *LPBITMAPCOREHEADER;

typedef struct tagBITMAPINFOHEADER {
    DWORD biSize;
    LONG biWidth;
    LONG biHeight;
    WORD biPlanes;
    WORD biBitCount;
    DWORD biCompression;
    DWORD biSizeImage;
    LONG biXPelsPerMeter;
    LONG biYPelsPerMeter;
    DWORD biClrUsed;
    DWORD biClrImportant;
} BITMAPINFOHEADER, *LPBITMAPINFOHEADER;

typedef struct tagBITMAPINFO {
    BITMAPINFOHEADER bmiHeader;
    RGBQUAD bmiColors[1];
} BITMAPINFO, *LPBITMAPINFO;

typedef LONG FXPT2DOT30;
typedef struct tagCIEXYZ {
    FXPT2DOT30 ciexyzX;
    FXPT2DOT30 ciexyzY;
    FXPT2DOT30 ciexyzZ;
} CIEXYZ;
typedef struct tagCIEXYZTRIPLE {
    CIEXYZ ciexyzRed;
    CIEXYZ ciexyzGreen;
    CIEXYZ ciexyzBlue;
} CIEXYZTRIPLE;

typedef struct {
    DWORD bV4Size;
    LONG bV4Width;
    LONG bV4Height;
    WORD bV4Planes;
    WORD bV4BitCount;
    DWORD bV4V4Compression;
    DWORD bV4SizeImage;
    LONG bV4XPelsPerMeter;
    LONG bV4YPelsPerMeter;
    DWORD bV4ClrUsed;
    DWORD bV4ClrImportant;
    DWORD bV4RedMask;
    DWORD bV4GreenMask;
    DWORD bV4BlueMask;
    DWORD bV4AlphaMask;
    DWORD bV4CSType;
    CIEXYZTRIPLE bV4Endpoints;
    DWORD bV4GammaRed;
    DWORD bV4GammaGreen;
    DWORD bV4GammaBlue;
} BITMAPV4HEADER, *LPBITMAPV4HEADER;

#define BI_RGB 0L
#define BI_RLE8 1L
#define BI_RLE4 2L
#define BI_BITFIELDS 3L

/* Global and local memory. Handles are opaque; a handle that the library did
 * not issue is refused (GlobalFree returns it, GlobalLock returns NULL,
 * GlobalFlags returns GMEM_INVALID_HANDLE). As in Win32:
 * - a movable block of zero bytes is allocated discarded (GlobalLock returns
 *   NULL, GlobalFlags reports GMEM_DISCARDED) until GlobalReAlloc sizes it;
 * - GlobalReAlloc keeps a locked or fixed block where it is when it shrinks
 *   or keeps its size, so a locked pointer or a fixed handle stays valid.
 *   Growth may move an unlocked movable block (so may a large shrink); a
 *   locked movable block or a fixed one moves only with GMEM_MOVEABLE in the
 *   flags, and is otherwise refused (NULL, block unchanged) when it cannot
 *   grow in place. A moved fixed block has a new handle; a movable one keeps
 *   its handle and lock count.
 * - GlobalReAlloc(h, 0, GMEM_MOVEABLE) discards an unlocked movable block;
 *   GMEM_MODIFY changes attributes only: it adds GMEM_DISCARDABLE, and
 *   with GMEM_MOVEABLE turns a fixed block into a movable one (new handle,
 *   same memory). GMEM_DISCARDABLE without GMEM_MODIFY is refused.
 * The Local functions behave as the Global ones, except that LocalFlags
 * reports LMEM_DISCARDABLE, LocalUnlock of a fixed block returns FALSE (TRUE
 * for GlobalUnlock), LocalAlloc gives a fixed zero-byte block a size of 0
 * (GlobalAlloc: 1), and LocalReAlloc never turns a fixed block movable. */
#define GMEM_FIXED 0x0000
#define GMEM_MOVEABLE 0x0002
#define GMEM_ZEROINIT 0x0040
#define GMEM_MODIFY 0x0080
#define GMEM_DISCARDABLE 0x0100
#define GMEM_DISCARDED 0x4000
#define GMEM_INVALID_HANDLE 0x8000
#define GMEM_LOCKCOUNT 0x00FF
#define GHND (GMEM_MOVEABLE | GMEM_ZEROINIT)
#define GPTR (GMEM_FIXED | GMEM_ZEROINIT)

#define LMEM_FIXED 0x0000
#define LMEM_MOVEABLE 0x0002
#define LMEM_ZEROINIT 0x0040
#define LMEM_MODIFY 0x0080
#define LMEM_DISCARDABLE 0x0F00
#define LMEM_DISCARDED 0x4000
#define LMEM_INVALID_HANDLE 0x8000
#define LMEM_LOCKCOUNT 0x00FF
#define LHND (LMEM_MOVEABLE | LMEM_ZEROINIT)
#define LPTR (LMEM_FIXED | LMEM_ZEROINIT)

KELM3_API HGLOBAL WINAPI GlobalAlloc(UINT uFlags, SIZE_T dwBytes);
KELM3_API HGLOBAL WINAPI GlobalReAlloc(HGLOBAL hMem, SIZE_T dwBytes, UINT uFlags);
KELM3_API LPVOID WINAPI GlobalLock(HGLOBAL hMem);
KELM3_API BOOL WINAPI GlobalUnlock(HGLOBAL hMem);
KELM3_API SIZE_T WINAPI GlobalSize(HGLOBAL hMem);
KELM3_API UINT WINAPI GlobalFlags(HGLOBAL hMem);
KELM3_API HGLOBAL WINAPI GlobalFree(HGLOBAL hMem);
KELM3_API HGLOBAL WINAPI GlobalHandle(LPCVOID pMem);
KELM3_API HLOCAL WINAPI LocalAlloc(UINT uFlags, SIZE_T uBytes);
KELM3_API HLOCAL WINAPI LocalReAlloc(HLOCAL hMem, SIZE_T uBytes, UINT uFlags);
KELM3_API LPVOID WINAPI LocalLock(HLOCAL hMem);
KELM3_API BOOL WINAPI LocalUnlock(HLOCAL hMem);
KELM3_API SIZE_T WINAPI LocalSize(HLOCAL hMem);
KELM3_API UINT WINAPI LocalFlags(HLOCAL hMem);
KELM3_API HLOCAL WINAPI LocalFree(HLOCAL hMem);
KELM3_API HLOCAL WINAPI LocalHandle(LPCVOID pMem);

/* Multimedia file I/O: the stream type of LoadDIB and SaveDIB.
 *
 * Two kinds of file, as in Win32: disk files (fccIOProc 0 or FOURCC_DOS, a
 * file name) and memory files (fccIOProc FOURCC_MEM, the caller's pchBuffer
 * and cchBuffer, no name). Supported open flags: the access modes MMIO_READ,
 * MMIO_WRITE, MMIO_READWRITE; MMIO_CREATE (create or truncate); the share
 * modes MMIO_COMPAT, MMIO_EXCLUSIVE, MMIO_DENYWRITE, MMIO_DENYREAD,
 * MMIO_DENYNONE, enforced among the mmio handles of the process; and
 * MMIO_ALLOCBUF, accepted and ignored (the system buffers disk files).
 * MMIO_PARSE, MMIO_DELETE, MMIO_EXIST, MMIO_GETTEMP and custom I/O procedures
 * (pIOProc) are not supported: mmioOpenA returns NULL with wErrorRet
 * MMSYSERR_INVALFLAG or MMSYSERR_INVALPARAM.
 *
 * A memory file's size is cchBuffer (0 after MMIO_CREATE, then as far as it
 * has been written); reads stop at its size and writes at the end of the
 * buffer, short counts reporting both. When pchBuffer is NULL the library
 * allocates a zero-filled buffer of cchBuffer bytes, which grows by at least
 * adwInfo[0] bytes when a write needs room and adwInfo[0] is not 0; the
 * caller's own buffer never grows. Seeking a memory file outside 0..buffer
 * size fails. mmioSeek returns the new position or -1; SEEK_END counts lOffset
 * from the end of the file (pass 0 for the size: Wine counts it backwards).
 * mmioRead and mmioWrite return the bytes transferred, 0 at the end of the
 * data, -1 on error (a bad handle, a negative count, a file not open for that
 * access). mmioClose returns 0, or MMSYSERR_INVALHANDLE. */
typedef DWORD FOURCC;
typedef char *HPSTR;
typedef UINT MMRESULT;
typedef HANDLE HTASK;
typedef struct HMMIO__ *HMMIO;
typedef LRESULT(CALLBACK *LPMMIOPROC)(LPSTR lpmmioinfo, UINT uMsg, LPARAM lParam1, LPARAM lParam2);

#pragma pack(push, 1)
typedef struct _MMIOINFO {
    DWORD dwFlags;
    FOURCC fccIOProc;
    LPMMIOPROC pIOProc;
    UINT wErrorRet;
    HTASK htask;
    LONG cchBuffer;
    HPSTR pchBuffer;
    HPSTR pchNext;
    HPSTR pchEndRead;
    HPSTR pchEndWrite;
    LONG lBufOffset;
    LONG lDiskOffset;
    DWORD adwInfo[3];
    DWORD dwReserved1;
    DWORD dwReserved2;
    HMMIO hmmio;
} MMIOINFO, *PMMIOINFO, *LPMMIOINFO;
#pragma pack(pop)
typedef const MMIOINFO *LPCMMIOINFO;

#define mmioFOURCC(c0, c1, c2, c3) \
    ((DWORD)(BYTE)(c0) | ((DWORD)(BYTE)(c1) << 8) | ((DWORD)(BYTE)(c2) << 16) | ((DWORD)(BYTE)(c3) << 24))
#define FOURCC_DOS mmioFOURCC('D', 'O', 'S', ' ')
#define FOURCC_MEM mmioFOURCC('M', 'E', 'M', ' ')

#define MMIO_RWMODE 0x00000003
#define MMIO_SHAREMODE 0x00000070
#define MMIO_READ 0x00000000
#define MMIO_WRITE 0x00000001
#define MMIO_READWRITE 0x00000002
#define MMIO_COMPAT 0x00000000
#define MMIO_EXCLUSIVE 0x00000010
#define MMIO_DENYWRITE 0x00000020
#define MMIO_DENYREAD 0x00000030
#define MMIO_DENYNONE 0x00000040
#define MMIO_CREATE 0x00001000
#define MMIO_PARSE 0x00000100
#define MMIO_DELETE 0x00000200
#define MMIO_EXIST 0x00004000
#define MMIO_ALLOCBUF 0x00010000
#define MMIO_GETTEMP 0x00020000
#define MMIO_DIRTY 0x10000000
#define MMIO_FHOPEN 0x0010

#define MMSYSERR_NOERROR 0
#define MMSYSERR_INVALHANDLE 5
#define MMSYSERR_NOMEM 7
#define MMSYSERR_INVALFLAG 10
#define MMSYSERR_INVALPARAM 11
#define MMIOERR_BASE 256
#define MMIOERR_FILENOTFOUND (MMIOERR_BASE + 1)
#define MMIOERR_OUTOFMEMORY (MMIOERR_BASE + 2)
#define MMIOERR_CANNOTOPEN (MMIOERR_BASE + 3)
#define MMIOERR_CANNOTCLOSE (MMIOERR_BASE + 4)
#define MMIOERR_CANNOTREAD (MMIOERR_BASE + 5)
#define MMIOERR_CANNOTWRITE (MMIOERR_BASE + 6)
#define MMIOERR_CANNOTSEEK (MMIOERR_BASE + 7)
#define MMIOERR_CANNOTEXPAND (MMIOERR_BASE + 8)
#define MMIOERR_PATHNOTFOUND (MMIOERR_BASE + 11)
#define MMIOERR_ACCESSDENIED (MMIOERR_BASE + 12)
#define MMIOERR_SHARINGVIOLATION (MMIOERR_BASE + 13)
#define MMIOERR_TOOMANYOPENFILES (MMIOERR_BASE + 15)

#ifndef SEEK_SET
#define SEEK_SET 0
#define SEEK_CUR 1
#define SEEK_END 2
#endif

KELM3_API HMMIO WINAPI mmioOpenA(LPSTR szFilename, LPMMIOINFO lpmmioinfo, DWORD dwOpenFlags);
KELM3_API LONG WINAPI mmioRead(HMMIO hmmio, HPSTR pch, LONG cch);
KELM3_API LONG WINAPI mmioWrite(HMMIO hmmio, const char *pch, LONG cch);
KELM3_API LONG WINAPI mmioSeek(HMMIO hmmio, LONG lOffset, int iOrigin);
KELM3_API MMRESULT WINAPI mmioClose(HMMIO hmmio, UINT wFlags);

/* Resources. A module's resources are the entries an application attached to
 * its module handle with kelm3_AddResource (Linux has no resource section);
 * FindResourceA, LoadResource, LockResource, SizeofResource and FreeResource
 * then behave as in Win32. Names and types are strings, matched without regard
 * to ASCII case, "#123" standing for the integer 123, or integer identifiers
 * made with MAKEINTRESOURCEA. The module handle is only a key: any value,
 * NULL included, names one table. LoadResource returns a handle that
 * LockResource turns into a pointer to the data; the data stays valid until
 * the resource is replaced or removed. FreeResource does nothing and returns
 * FALSE, as in Win32. */
typedef struct HRSRC__ *HRSRC;

#define IS_INTRESOURCE(r) ((((ULONG_PTR)(r)) >> 16) == 0)
#define MAKEINTRESOURCEA(i) ((LPSTR)(ULONG_PTR)((WORD)(i)))
#define MAKEINTRESOURCE MAKEINTRESOURCEA
#define RT_BITMAP MAKEINTRESOURCEA(2)
#define RT_RCDATA MAKEINTRESOURCEA(10)

KELM3_API HRSRC WINAPI FindResourceA(HMODULE hModule, LPCSTR lpName, LPCSTR lpType);
KELM3_API HGLOBAL WINAPI LoadResource(HMODULE hModule, HRSRC hResInfo);
KELM3_API LPVOID WINAPI LockResource(HGLOBAL hResData);
KELM3_API DWORD WINAPI SizeofResource(HMODULE hModule, HRSRC hResInfo);
KELM3_API BOOL WINAPI FreeResource(HGLOBAL hResData);

/* kelm3_AddResource (Linux only): attaches a copy of cbData bytes at lpData to
 * hModule as the resource lpName of type lpType (names as above), replacing a
 * resource of the same module, type and name. With lpData NULL it removes that
 * resource instead. Returns TRUE, or FALSE for a NULL or empty string name or
 * type, a removal that finds nothing, or a failed allocation. Pointers from
 * LockResource on a replaced or removed resource become invalid. */
KELM3_API BOOL WINAPI kelm3_AddResource(HMODULE hModule, LPCSTR lpName, LPCSTR lpType, LPCVOID lpData, DWORD cbData);

#ifdef __cplusplus
}
#endif

#endif /* KELM3_WIN32_H */
