/*
 * kelm3_win32_metafile.h - the metafile part of the Win32 subset for
 * platforms other than Windows (included by kelm3_win32.h).
 *
 * Windows metafiles (WMF) and enhanced metafiles (EMF) live in memory as their
 * record bytes, exactly as Windows stores them. CreateMetaFileA(NULL) and
 * CreateEnhMetaFileA give recording DCs: the drawing functions below, and
 * SetWindowOrgEx, Polyline, PatBlt, StretchDIBits and SelectObject, append
 * their records to them. StretchDIBits records META_STRETCHDIB or
 * EMR_STRETCHDIBITS (with the pixels; a header whose biSizeImage is 0 is
 * recorded with it filled in). Objects (pens, brushes, fonts) are recorded
 * the first time they are selected into a recording DC, in its first free
 * object slot. An EMF's rclBounds is the device-unit box of what was drawn,
 * inclusive, and its rclFrame, when not given, that box in 0.01 mm of the
 * reference device (the screen: 1024 x 768 pixels on 320 x 240 mm), the
 * right and bottom edges one pixel out.
 *
 * Playing records is supported into recording DCs only: EnumMetaFile and
 * EnumEnhMetaFile hand every record to the callback, and PlayMetaFileRecord /
 * PlayEnhMetaFileRecord into a recording DC copy it there, creating objects in
 * the handle table and selecting and deleting them as GDI does. Into any other
 * DC they draw nothing and report success. SetMetaFileBitsEx and
 * SetEnhMetaFileBits keep only the records that lie wholly inside the data.
 * Plain C99; usable from C++.
 */
#ifndef KELM3_WIN32_METAFILE_H
#define KELM3_WIN32_METAFILE_H

#ifdef __cplusplus
extern "C" {
#endif

typedef struct HMETAFILE__ *HMETAFILE;
typedef struct HENHMETAFILE__ *HENHMETAFILE;
typedef struct HFONT__ *HFONT;

typedef struct _POINTL {
    LONG x;
    LONG y;
} POINTL, *PPOINTL;
typedef struct _RECTL {
    LONG left;
    LONG top;
    LONG right;
    LONG bottom;
} RECTL, *PRECTL, *LPRECTL;
typedef struct tagSIZEL {
    LONG cx;
    LONG cy;
} SIZEL, *PSIZEL;

#pragma pack(push, 2)
typedef struct tagMETARECORD {
    DWORD rdSize;
    WORD rdFunction;
    WORD rdParm[1];
} METARECORD, *PMETARECORD, *LPMETARECORD;
typedef struct tagMETAHEADER {
    WORD mtType;
    WORD mtHeaderSize;
    WORD mtVersion;
    DWORD mtSize;
    WORD mtNoObjects;
    DWORD mtMaxRecord;
    WORD mtNoParameters;
} METAHEADER, *PMETAHEADER;
#pragma pack(pop)

typedef struct tagHANDLETABLE {
    HGDIOBJ objectHandle[1];
} HANDLETABLE, *PHANDLETABLE, *LPHANDLETABLE;

typedef struct tagENHMETARECORD {
    DWORD iType;
    DWORD nSize;
    DWORD dParm[1];
} ENHMETARECORD, *PENHMETARECORD, *LPENHMETARECORD;

typedef struct tagENHMETAHEADER {
    DWORD iType;
    DWORD nSize;
    RECTL rclBounds;
    RECTL rclFrame;
    DWORD dSignature;
    DWORD nVersion;
    DWORD nBytes;
    DWORD nRecords;
    WORD nHandles;
    WORD sReserved;
    DWORD nDescription;
    DWORD offDescription;
    DWORD nPalEntries;
    SIZEL szlDevice;
    SIZEL szlMillimeters;
    DWORD cbPixelFormat;
    DWORD offPixelFormat;
    DWORD bOpenGL;
    SIZEL szlMicrometers;
} ENHMETAHEADER, *PENHMETAHEADER, *LPENHMETAHEADER;

#define LF_FACESIZE 32
typedef struct tagLOGFONTA {
    LONG lfHeight;
    LONG lfWidth;
    LONG lfEscapement;
    LONG lfOrientation;
    LONG lfWeight;
    BYTE lfItalic;
    BYTE lfUnderline;
    BYTE lfStrikeOut;
    BYTE lfCharSet;
    BYTE lfOutPrecision;
    BYTE lfClipPrecision;
    BYTE lfQuality;
    BYTE lfPitchAndFamily;
    CHAR lfFaceName[LF_FACESIZE];
} LOGFONTA, *PLOGFONTA, *LPLOGFONTA;

typedef int(CALLBACK *MFENUMPROC)(HDC hdc, HANDLETABLE *lpht, METARECORD *lpMR, int nObj, LPARAM param);
typedef int(CALLBACK *ENHMFENUMPROC)(HDC hdc, HANDLETABLE *lpht, const ENHMETARECORD *lpmr, int nHandles,
                                     LPARAM data);

#define MM_TEXT 1
#define MM_ANISOTROPIC 8
#define GDI_ERROR 0xFFFFFFFFL
#define ETO_OPAQUE 0x0002
#define ETO_CLIPPED 0x0004
#define OBJ_FONT 6
#define OBJ_METADC 4
#define OBJ_ENHMETADC 12
#define ENHMETA_SIGNATURE 0x464D4520
#ifndef MB_OK
#define MB_OK 0x00000000L
#endif

KELM3_API HDC WINAPI CreateMetaFileA(LPCSTR pszFile);
KELM3_API HMETAFILE WINAPI CloseMetaFile(HDC hdc);
KELM3_API BOOL WINAPI DeleteMetaFile(HMETAFILE hmf);
KELM3_API BOOL WINAPI EnumMetaFile(HDC hdc, HMETAFILE hmf, MFENUMPROC proc, LPARAM param);
KELM3_API BOOL WINAPI PlayMetaFileRecord(HDC hdc, LPHANDLETABLE lpHandleTable, LPMETARECORD lpMR, UINT noObjs);
KELM3_API HMETAFILE WINAPI SetMetaFileBitsEx(UINT cbBuffer, const BYTE *lpData);
KELM3_API UINT WINAPI GetMetaFileBitsEx(HMETAFILE hMF, UINT cbBuffer, LPVOID lpData);

KELM3_API HDC WINAPI CreateEnhMetaFileA(HDC hdc, LPCSTR lpFilename, const RECT *lprc, LPCSTR lpDesc);
KELM3_API HENHMETAFILE WINAPI CloseEnhMetaFile(HDC hdc);
KELM3_API BOOL WINAPI DeleteEnhMetaFile(HENHMETAFILE hmf);
KELM3_API BOOL WINAPI EnumEnhMetaFile(HDC hdc, HENHMETAFILE hmf, ENHMFENUMPROC proc, LPVOID param,
                                      const RECT *lpRect);
KELM3_API BOOL WINAPI PlayEnhMetaFileRecord(HDC hdc, LPHANDLETABLE pht, const ENHMETARECORD *pmr, UINT cht);
KELM3_API UINT WINAPI GetEnhMetaFileHeader(HENHMETAFILE hemf, UINT nSize, LPENHMETAHEADER lpEnhMetaHeader);
KELM3_API UINT WINAPI GetEnhMetaFileDescriptionA(HENHMETAFILE hemf, UINT cchBuffer, LPSTR lpDescription);
KELM3_API UINT WINAPI GetEnhMetaFileBits(HENHMETAFILE hEMF, UINT nSize, LPBYTE lpData);
KELM3_API HENHMETAFILE WINAPI SetEnhMetaFileBits(UINT nSize, const BYTE *pb);

/* Mapping and drawing: recorded on metafile DCs, refused (0) on others. */
KELM3_API int WINAPI SetMapMode(HDC hdc, int iMode);
KELM3_API BOOL WINAPI SetWindowExtEx(HDC hdc, int x, int y, LPSIZE lpsz);
KELM3_API BOOL WINAPI MoveToEx(HDC hdc, int x, int y, LPPOINT lppt);
KELM3_API BOOL WINAPI LineTo(HDC hdc, int x, int y);
KELM3_API BOOL WINAPI Rectangle(HDC hdc, int left, int top, int right, int bottom);
KELM3_API BOOL WINAPI Ellipse(HDC hdc, int left, int top, int right, int bottom);
KELM3_API BOOL WINAPI RoundRect(HDC hdc, int left, int top, int right, int bottom, int width, int height);
KELM3_API BOOL WINAPI Arc(HDC hdc, int x1, int y1, int x2, int y2, int x3, int y3, int x4, int y4);
KELM3_API BOOL WINAPI Pie(HDC hdc, int x1, int y1, int x2, int y2, int x3, int y3, int x4, int y4);
KELM3_API BOOL WINAPI Chord(HDC hdc, int x1, int y1, int x2, int y2, int x3, int y3, int x4, int y4);
KELM3_API BOOL WINAPI Polygon(HDC hdc, const POINT *apt, int cpt);
KELM3_API BOOL WINAPI TextOutA(HDC hdc, int x, int y, LPCSTR lpString, int c);
KELM3_API HFONT WINAPI CreateFontIndirectA(const LOGFONTA *lplf);
KELM3_API BOOL WINAPI MessageBeep(UINT uType);

#ifdef __cplusplus
}
#endif

#endif /* KELM3_WIN32_METAFILE_H */
