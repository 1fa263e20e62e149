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

/* Graphics device interface: the subset the device-output functions use, with
 * Win32's names, records and results.
 *
 * The screen is a 32-bit bitmap of KELM3_SCREEN_WIDTH x KELM3_SCREEN_HEIGHT
 * pixels (black at start) that GetDC(NULL), GetDC(GetDesktopWindow()) and
 * CreateDCA("DISPLAY", ...) draw into and read from; the desktop is the only
 * window. Memory DCs (CreateCompatibleDC) start with a 1 x 1 monochrome
 * bitmap selected; bitmaps are monochrome (1 bit) or screen-compatible
 * (32 bits), and what is drawn into them are real pixels that GetDIBits
 * returns. The device is not palette-based: palettes are objects that
 * selecting and realizing leave without effect on colours, GetDIBits gives
 * every depth of 8 bits or less its default colour table (black, white; the
 * 16 VGA colours; the 20 static colours around a 3-3-2 colour cube), and
 * GetSystemPaletteEntries returns 0.
 *
 * One printer: CreateDCA(NULL or "WINSPOOL", KELM3_PS_PRINTER, NULL, NULL)
 * gives a PostScript raster printer (TECHNOLOGY DT_RASPRINTER, 72 dots per
 * inch, a page of 612 x 792 dots) that answers QUERYESCSUPPORT for
 * QUERYESCSUPPORT, POSTSCRIPT_DATA and POSTSCRIPT_IGNORE. StartDocA opens
 * DOCINFOA.lpszOutput (a file name; required) and writes a PostScript prolog
 * that makes device units y-down dots from the page's top-left corner;
 * POSTSCRIPT_DATA escapes (a 16-bit byte count, then the bytes) go to the
 * file verbatim between "%%BeginDocument: passthrough" and "%%EndDocument"
 * lines, and EndDoc ends the page and closes the file. Drawing functions on
 * the printer DC succeed and draw nothing.
 *
 * Raster operations are the 256 ternary ROPs of Win32 (the high word of the
 * code) on 24-bit colours; the pattern is the selected brush's colour.
 * Stretching maps each destination pixel to the source pixel under its
 * centre. DIB transfers read 1-, 4-, 8-, 16-, 24- and 32-bit uncompressed
 * DIBs (BI_RGB, BI_BITFIELDS) with DIB_RGB_COLORS; RLE and DIB_PAL_COLORS
 * are refused (result 0). GetDIBits writes 1, 4, 8, 16 (5-5-5), 24 and 32 bits
 * BI_RGB; other compressions give 0. */
typedef struct HDC__ *HDC;
typedef struct HBITMAP__ *HBITMAP;
typedef struct HPALETTE__ *HPALETTE;
typedef struct HBRUSH__ *HBRUSH;
typedef struct HPEN__ *HPEN;
typedef struct HWND__ *HWND;
typedef struct HCURSOR__ *HCURSOR;
typedef void *HGDIOBJ;

#define KELM3_SCREEN_WIDTH 1024
#define KELM3_SCREEN_HEIGHT 768
#define KELM3_PS_PRINTER "kelm3 PostScript"

typedef struct tagSIZE {
    LONG cx;
    LONG cy;
} SIZE, *PSIZE, *LPSIZE;

typedef struct tagBITMAP {
    LONG bmType;
    LONG bmWidth;
    LONG bmHeight;
    LONG bmWidthBytes;
    WORD bmPlanes;
    WORD bmBitsPixel;
    LPVOID bmBits;
} BITMAP, *PBITMAP, *LPBITMAP;

typedef struct tagPALETTEENTRY {
    BYTE peRed;
    BYTE peGreen;
    BYTE peBlue;
    BYTE peFlags;
} PALETTEENTRY, *PPALETTEENTRY, *LPPALETTEENTRY;

typedef struct tagLOGPALETTE {
    WORD palVersion;
    WORD palNumEntries;
    PALETTEENTRY palPalEntry[1];
} LOGPALETTE, *PLOGPALETTE, *LPLOGPALETTE;

typedef struct _DOCINFOA {
    int cbSize;
    LPCSTR lpszDocName;
    LPCSTR lpszOutput;
    LPCSTR lpszDatatype;
    DWORD fwType;
} DOCINFOA, *LPDOCINFOA;

#define DIB_RGB_COLORS 0
#define DIB_PAL_COLORS 1
#define CBM_INIT 0x04L

#define SRCCOPY 0x00CC0020
#define SRCPAINT 0x00EE0086
#define SRCAND 0x008800C6
#define SRCINVERT 0x00660046
#define SRCERASE 0x00440328
#define NOTSRCCOPY 0x00330008
#define NOTSRCERASE 0x001100A6
#define MERGECOPY 0x00C000CA
#define MERGEPAINT 0x00BB0226
#define PATCOPY 0x00F00021
#define PATPAINT 0x00FB0A09
#define PATINVERT 0x005A0049
#define DSTINVERT 0x00550009
#define BLACKNESS 0x00000042
#define WHITENESS 0x00FF0062

#define WHITE_BRUSH 0
#define LTGRAY_BRUSH 1
#define GRAY_BRUSH 2
#define DKGRAY_BRUSH 3
#define BLACK_BRUSH 4
#define NULL_BRUSH 5
#define WHITE_PEN 6
#define PS_SOLID 0
#define PS_NULL 5
#define BLACK_PEN 7
#define DEFAULT_PALETTE 15

#define OBJ_PEN 1
#define OBJ_BRUSH 2
#define OBJ_DC 3
#define OBJ_PAL 5
#define OBJ_BITMAP 7
#define OBJ_MEMDC 10

#define HORZSIZE 4
#define VERTSIZE 6
#define HORZRES 8
#define VERTRES 10
#define BITSPIXEL 12
#define PLANES 14
#define NUMCOLORS 24
#define TECHNOLOGY 2
#define RASTERCAPS 38
#define LOGPIXELSX 88
#define LOGPIXELSY 90
#define SIZEPALETTE 104
#define DT_PLOTTER 0
#define DT_RASDISPLAY 1
#define DT_RASPRINTER 2
#define RC_BITBLT 1
#define RC_BITMAP64 8
#define RC_DI_BITMAP 0x0080
#define RC_PALETTE 0x0100
#define RC_DIBTODEV 0x0200
#define RC_STRETCHBLT 0x0800
#define RC_STRETCHDIB 0x2000

#define QUERYESCSUPPORT 8
#define POSTSCRIPT_DATA 37
#define POSTSCRIPT_IGNORE 38
#define SP_ERROR (-1)
#define CLR_INVALID 0xFFFFFFFF

#define IDC_ARROW MAKEINTRESOURCEA(32512)
#define IDC_WAIT MAKEINTRESOURCEA(32514)

KELM3_API HDC WINAPI GetDC(HWND hWnd);
KELM3_API int WINAPI ReleaseDC(HWND hWnd, HDC hDC);
KELM3_API HWND WINAPI GetDesktopWindow(void);
KELM3_API BOOL WINAPI GetWindowRect(HWND hWnd, LPRECT lpRect);
KELM3_API BOOL WINAPI SetRect(LPRECT lprc, int xLeft, int yTop, int xRight, int yBottom);
KELM3_API BOOL WINAPI IsRectEmpty(const RECT *lprc);
KELM3_API HCURSOR WINAPI LoadCursorA(HINSTANCE hInstance, LPCSTR lpCursorName);
KELM3_API HCURSOR WINAPI SetCursor(HCURSOR hCursor);
KELM3_API HCURSOR WINAPI GetCursor(void);

KELM3_API HDC WINAPI CreateDCA(LPCSTR pwszDriver, LPCSTR pwszDevice, LPCSTR pszPort, const void *pdm);
KELM3_API HDC WINAPI CreateCompatibleDC(HDC hdc);
KELM3_API BOOL WINAPI DeleteDC(HDC hdc);
KELM3_API int WINAPI GetDeviceCaps(HDC hdc, int index);
KELM3_API HGDIOBJ WINAPI SelectObject(HDC hdc, HGDIOBJ h);
KELM3_API HGDIOBJ WINAPI GetCurrentObject(HDC hdc, UINT type);
KELM3_API BOOL WINAPI DeleteObject(HGDIOBJ ho);
KELM3_API HGDIOBJ WINAPI GetStockObject(int i);
KELM3_API int WINAPI GetObjectA(HANDLE h, int c, LPVOID pv);
KELM3_API DWORD WINAPI GetObjectType(HGDIOBJ h);
KELM3_API BOOL WINAPI LPtoDP(HDC hdc, LPPOINT lppt, int c);
KELM3_API BOOL WINAPI SetViewportOrgEx(HDC hdc, int x, int y, LPPOINT lppt);
KELM3_API BOOL WINAPI SetWindowOrgEx(HDC hdc, int x, int y, LPPOINT lppt);

KELM3_API HBITMAP WINAPI CreateBitmap(int nWidth, int nHeight, UINT nPlanes, UINT nBitCount, const void *lpBits);
KELM3_API HBITMAP WINAPI CreateCompatibleBitmap(HDC hdc, int cx, int cy);
KELM3_API HBITMAP WINAPI CreateDIBitmap(HDC hdc, const BITMAPINFOHEADER *pbmih, DWORD flInit, const void *pjBits,
                                        const BITMAPINFO *pbmi, UINT iUsage);
KELM3_API BOOL WINAPI SetBitmapDimensionEx(HBITMAP hbm, int w, int h, LPSIZE lpsz);
KELM3_API BOOL WINAPI GetBitmapDimensionEx(HBITMAP hbit, LPSIZE lpsize);
KELM3_API int WINAPI GetDIBits(HDC hdc, HBITMAP hbm, UINT start, UINT cLines, LPVOID lpvBits, LPBITMAPINFO lpbmi,
                               UINT usage);
KELM3_API int WINAPI SetDIBits(HDC hdc, HBITMAP hbm, UINT start, UINT cLines, const void *lpBits,
                               const BITMAPINFO *lpbmi, UINT ColorUse);
KELM3_API int WINAPI SetDIBitsToDevice(HDC hdc, int xDest, int yDest, DWORD w, DWORD h, int xSrc, int ySrc,
                                       UINT StartScan, UINT cLines, const void *lpvBits, const BITMAPINFO *lpbmi,
                                       UINT ColorUse);
KELM3_API int WINAPI StretchDIBits(HDC hdc, int xDest, int yDest, int DestWidth, int DestHeight, int xSrc, int ySrc,
                                   int SrcWidth, int SrcHeight, const void *lpBits, const BITMAPINFO *lpbmi,
                                   UINT iUsage, DWORD rop);
KELM3_API BOOL WINAPI BitBlt(HDC hdc, int x, int y, int cx, int cy, HDC hdcSrc, int x1, int y1, DWORD rop);
KELM3_API BOOL WINAPI PatBlt(HDC hdc, int x, int y, int w, int h, DWORD rop);
KELM3_API BOOL WINAPI Polyline(HDC hdc, const POINT *apt, int cpt);
KELM3_API COLORREF WINAPI GetPixel(HDC hdc, int x, int y);
KELM3_API COLORREF WINAPI SetPixel(HDC hdc, int x, int y, COLORREF color);
KELM3_API HBRUSH WINAPI CreateSolidBrush(COLORREF color);
KELM3_API HPEN WINAPI CreatePen(int iStyle, int cWidth, COLORREF color);

KELM3_API HPALETTE WINAPI CreatePalette(const LOGPALETTE *plpal);
KELM3_API UINT WINAPI GetPaletteEntries(HPALETTE hpal, UINT iStart, UINT cEntries, LPPALETTEENTRY pPalEntries);
KELM3_API UINT WINAPI GetSystemPaletteEntries(HDC hdc, UINT iStart, UINT cEntries, LPPALETTEENTRY pPalEntries);
KELM3_API HPALETTE WINAPI SelectPalette(HDC hdc, HPALETTE hPal, BOOL bForceBkgd);
KELM3_API UINT WINAPI RealizePalette(HDC hdc);

KELM3_API int WINAPI Escape(HDC hdc, int iEscape, int cjIn, LPCSTR pvIn, LPVOID pvOut);
KELM3_API int WINAPI StartDocA(HDC hdc, const DOCINFOA *lpdi);
KELM3_API int WINAPI StartPage(HDC hdc);
KELM3_API int WINAPI EndPage(HDC hdc);
KELM3_API int WINAPI EndDoc(HDC hdc);

#ifdef __cplusplus
}
#endif

#include "kelm3_win32_metafile.h"

#endif /* KELM3_WIN32_H */
