/*
 * kelm3.h - public interface of the kelm3 image-editing library.
 *
 * Images cross this interface as packed DIBs: one movable global memory block
 * (HGLOBAL) holding a BITMAPINFOHEADER (40 bytes) or BITMAPV4HEADER (108 bytes),
 * three colour masks when biCompression is BI_BITFIELDS, the colour table, and
 * the pixel rows padded to 32 bits. Rows are counted in memory order: row 0 is
 * the first stored row, the bottom line of an ordinary bottom-up image.
 *
 * Ownership: every handle a function returns is new and belongs to the caller,
 * who releases it with DIBFree. Functions that take a handle lock it for the
 * duration of the call only and never keep it. Functions documented as taking
 * a "header pointer" take the first byte of a block the caller holds locked.
 *
 * Safety: every function that takes a handle first checks that the layout its
 * header declares (header, masks, colour table and |height| x stride x planes
 * of pixel bytes, RLE images by their stored biSizeImage) lies inside
 * GlobalSize of the block, and fails as documented when it does not. The
 * functions that take a header pointer trust it.
 *
 * On Windows the library is kelm3_32.dll (all functions __stdcall, exported
 * undecorated at fixed ordinals); elsewhere it is libkelm3, where
 * kelm3_win32.h supplies the Win32 types and the global-memory functions.
 * The header is C99 and C++.
 */
#ifndef KELM3_H
#define KELM3_H

#if defined(_WIN32)
#include <windows.h>
#include <mmsystem.h> /* HMMIO, which WIN32_LEAN_AND_MEAN leaves out of windows.h */
#ifndef KELM3_API
#define KELM3_API
#endif
#else
#include "kelm3_win32.h"
#endif
#include "kelm3_twain.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ---------------------------------------------------------------------------
 * Shared types
 * ------------------------------------------------------------------------- */

/* The common colour value of the pixel engine: four unsigned 16-bit channels.
 * An 8-bit sample v is the 16-bit value v * 257; a 16-bit channel becomes an
 * 8-bit sample by its high byte. `reserved` carries the fourth byte of 32-bit
 * pixels and is 0 where the layout has none. */
typedef struct Rgbq16 {
    WORD blue;
    WORD green;
    WORD red;
    WORD reserved;
} Rgbq16;

/* The pixel-access record of the RW functions: opaque to applications. */
typedef struct TRDIB TRDIB;
typedef TRDIB *LPTRDIB;

/* Palette type codes returned by DIBPaletteType. */
#define KELM3_PAL_NONE 0       /* no colour table */
#define KELM3_PAL_OTHER 1      /* any other table */
#define KELM3_PAL_BLACKWHITE 2 /* black, white */
#define KELM3_PAL_WHITEBLACK 3 /* white, black */
#define KELM3_PAL_STD16 4      /* the standard 16-colour table */
#define KELM3_PAL_GREYDOWN 5   /* 256 greys 255, 254, ... 0 */
#define KELM3_PAL_GREYUP 6     /* 256 greys 0, 1, ... 255 */
#define KELM3_PAL_DEFAULT256 7 /* the default 256-colour table */

/* Flags of CreateDIB. */
#define KELM3_CREATE_NOZERO 1   /* leave the pixels uninitialised (row padding still 0) */
#define KELM3_CREATE_TWOPLANE 2 /* 16 bits per sample: two planes of the given depth */

/* Colour-space type (offset 56 of a 108-byte header) that marks CMYK images. */
#define KELM3_CS_CMYK 2

/* ---------------------------------------------------------------------------
 * Packed DIB queries
 * ------------------------------------------------------------------------- */

/* DIBInfo (ordinal 13): copies the image header into lpbi, at most cbSize bytes
 * and at most biSize bytes, then (not for a 12-byte core header) completes the
 * copy: biSizeImage of an uncompressed image is raised to |biHeight| x stride,
 * and a zero biClrUsed becomes DIBNumPaletteColors. The block is unchanged.
 * Returns 1, or 0 (lpbi untouched) when hDib is null, cbSize < 40, the block
 * cannot be locked or its layout does not fit the block. */
KELM3_API int WINAPI DIBInfo(HGLOBAL hDib, LPVOID lpbi, UINT cbSize);

/* DIBNumPaletteColors (ordinal 14), header pointer: number of colour-table
 * entries: biClrUsed (its low 16 bits) when non-zero, else 2, 16 or 256 at 1,
 * 4 or 8 bits, else 0. Core headers by bcBitCount. */
KELM3_API UINT WINAPI DIBNumPaletteColors(LPCVOID lpbi);

/* DIBPaletteSize (ordinal 15), header pointer: the colour table's size in bytes
 * (3 bytes an entry after a core header, 4 otherwise; masks not included). */
KELM3_API UINT WINAPI DIBPaletteSize(LPCVOID lpbi);

/* DIBPaletteType (ordinal 59), header pointer: a KELM3_PAL_* code, 0 to 7. */
KELM3_API int WINAPI DIBPaletteType(LPCVOID lpbi);

/* DIBIsCmyk (ordinal 60), header pointer: 1 when biSize is 108 and the
 * colour-space type at offset 56 is 2, else 0. */
KELM3_API BOOL WINAPI DIBIsCmyk(LPCVOID lpbi);

/* DIBPixelPtr (ordinal 65), header pointer: address of the byte holding pixel
 * x of row y (memory order). Unsigned 32-bit arithmetic, no bounds test; the
 * colour table is counted as biClrUsed entries, or 2^biBitCount below 16 bits
 * when biClrUsed is 0. For the two-plane form it addresses the first plane.
 * A core header is read only within its 12 bytes: 2^bcBitCount RGBTRIPLEs
 * below 16 bits, no masks. */
KELM3_API LPBYTE WINAPI DIBPixelPtr(LPVOID lpbi, UINT x, UINT y);

/* DIBNormalize (ordinal 71): turns a bottom-up uncompressed one-plane image of
 * 1 bit whose table is white, black into the same picture with the table
 * black, white (all pixel bits inverted). A 4- or 8-bit image with that
 * two-entry table has indices 0 and 1 swapped instead. Other depths (2, 3,
 * 5, 6, 7 bits ...), top-down images and all others are left unchanged;
 * nothing outside |height| x stride is touched. */
KELM3_API void WINAPI DIBNormalize(HGLOBAL hDib);

/* ---------------------------------------------------------------------------
 * Creation and lifetime
 * ------------------------------------------------------------------------- */

/* CopyHandle (ordinal 3): a new movable block of the same size and bytes as
 * any global memory block, or NULL. */
KELM3_API HGLOBAL WINAPI CopyHandle(HGLOBAL hMem);

/* CreateCompatibleDIB (ordinal 5): a new image with the header, masks and
 * colour table of hSrc and the given width and height, sized for
 * uncompressed rows. Pixels are uninitialised except that row padding is 0.
 * NULL when hSrc is null or unusable, when height is negative (the size
 * cannot be allocated), when the size does not fit 32 bits, or on failure. */
KELM3_API HGLOBAL WINAPI CreateCompatibleDIB(HGLOBAL hSrc, UINT width, LONG height);

/* CreateDIB (ordinal 6): a new bottom-up (height > 0) or top-down (height < 0)
 * image with the default colour table of its depth (black/white, standard 16
 * colours, default 256 colours). Flags KELM3_CREATE_*. A bit count above 32
 * without KELM3_CREATE_TWOPLANE also gives the two-plane form with half the
 * count per plane. Accepted depths per plane: 1, 4, 8, 16, 24, 32 (two-plane:
 * 8, 24, 32); other depths, a negative width and sizes that do not fit the
 * 32-bit header fields give NULL. A width or height of 0 makes an image with
 * no pixels. */
KELM3_API HGLOBAL WINAPI CreateDIB(LONG width, LONG height, UINT bitCount, int flags);

/* DIBFree (ordinal 66): releases a block (locked or not, as GlobalFree does).
 * NULL on success or for a NULL handle; the handle itself when it cannot be
 * freed (a handle that is not a global memory block). */
KELM3_API HGLOBAL WINAPI DIBFree(HGLOBAL hDib);

/* ---------------------------------------------------------------------------
 * CMYK
 * ------------------------------------------------------------------------- */

/* DIBCmyk2Rgb (ordinal 61), header pointer of a locked 32-bit CMYK image:
 * converts every pixel to blue, green, red, 0 in place and, in a 108-byte
 * header, sets the colour-space type to 1 (an image without pixels too). The
 * caller checks DIBIsCmyk first; a 40-byte header has no colour-space field
 * and only its pixels are converted. Top-down images convert the same way.
 * When lpbi lies in a global block whose size does not hold the pixels, or
 * the header is not 32 bits or describes no layout, nothing is changed. */
KELM3_API void WINAPI DIBCmyk2Rgb(LPVOID lpbi);

/* ---------------------------------------------------------------------------
 * Public pixel API
 *
 * Coordinates are signed: x from 0 at the left, y the row in memory order.
 * A coordinate is valid when 0 <= x < biWidth and 0 <= y < biHeight; a
 * top-down image therefore has no valid row. Out-of-range calls do nothing.
 * Raw values are those of the layout: a 32-bit 0/1 at 1 bit, one byte index at
 * 4 and 8 bits, the stored word, 3 or 4 stored bytes, a 16-bit grey (two-plane
 * 8 bits) or an Rgbq16 (two-plane 24 and 32 bits); raw buffers hold 8 bytes.
 * ------------------------------------------------------------------------- */

/* RWOpenDIB (ordinal 47): opens pixel access on an uncompressed (BI_RGB or
 * BI_BITFIELDS) image with a 40- or 108-byte header at 1, 4, 8, 16, 24 or 32
 * bits, or two-plane 8, 24 or 32 bits. The image stays locked until RWClose:
 * do not free or resize it meanwhile. NULL when the layout is unsupported, the
 * block is too small for it, or memory runs out.
 * At 16 bits with BI_BITFIELDS only the low 16 bits of each mask count: a
 * channel whose mask has none of them reads 0 and is never written; a mask
 * with gaps takes its set bits from the lowest up, left-aligned in 16 bits,
 * and writes stay within the mask. Colour-table indices whose entry would lie
 * outside the block read as black, and palette writes choose among the first
 * 2^bits entries only. NULL record or buffer pointers are ignored (RWGetPixel
 * then returns 0xFFFFFFFF). */
KELM3_API LPTRDIB WINAPI RWOpenDIB(HGLOBAL hDib);

/* RWClose (ordinal 48): unlocks the image and frees the record. Returns NULL. */
KELM3_API LPTRDIB WINAPI RWClose(LPTRDIB lpRW);

/* RWGetPixel (ordinal 49): colour word of pixel (x, y), red in bits 0-7,
 * green 8-15, blue 16-23; 0xFFFFFFFF outside the image. */
KELM3_API DWORD WINAPI RWGetPixel(LPTRDIB lpRW, int x, int y);

/* RWSetPixel (ordinal 50): writes a colour word (bits 24-31 give the fourth
 * channel of 32-bit pixels); palette images take the nearest table entry. */
KELM3_API void WINAPI RWSetPixel(LPTRDIB lpRW, int x, int y, DWORD colour);

/* RWGetPixelIndex / RWSetPixelIndex (ordinals 51, 52): raw pixel value. */
KELM3_API void WINAPI RWGetPixelIndex(LPTRDIB lpRW, int x, int y, LPVOID lpRaw);
KELM3_API void WINAPI RWSetPixelIndex(LPTRDIB lpRW, int x, int y, LPCVOID lpRaw);

/* RWGetPixelRGB16 / RWSetPixelRGB16 (ordinals 53, 54): one pixel as Rgbq16. */
KELM3_API void WINAPI RWGetPixelRGB16(LPTRDIB lpRW, int x, int y, Rgbq16 *lpColour);
KELM3_API void WINAPI RWSetPixelRGB16(LPTRDIB lpRW, int x, int y, const Rgbq16 *lpColour);

/* RWGetLineRGB16 / RWSetLineRGB16 (ordinals 55, 56): pixels x .. x+count-1 of
 * row y, count clipped to the row; array elements past the clipped count are
 * not touched. A count of 0 or less transfers nothing. */
KELM3_API void WINAPI RWGetLineRGB16(LPTRDIB lpRW, int x, int y, int count, Rgbq16 *lpLine);
KELM3_API void WINAPI RWSetLineRGB16(LPTRDIB lpRW, int x, int y, int count, const Rgbq16 *lpLine);

/* ---------------------------------------------------------------------------
 * BMP input and output
 *
 * A BMP file is a 14-byte BITMAPFILEHEADER ("BM", bfSize, two reserved words,
 * bfOffBits: the offset of the pixel array from the file header) followed by
 * a packed DIB whose pixel array starts at bfOffBits. Streams are mmio
 * handles: disk files or memory files (kelm3_win32.h on Linux).
 *
 * Hostile files. The reader and the decoder never read or write outside their
 * buffers, whatever the file holds. In detail:
 * - Header sizes 12 (OS/2 core, converted to 40), 40 and 108 are read; any
 *   other gives NULL, and so does a height of INT_MIN (-2^31: its magnitude
 *   does not fit the field). The colour count is DIBNumPaletteColors: the low
 *   16 bits of biClrUsed (0x10014 means 20 entries; 0x10000 none).
 * - Layouts the library works with: 1, 4, 8, 16, 24, 32 bits in one plane,
 *   two-plane 8, 24, 32 bits (BI_RGB); BI_RGB, BI_RLE8 at 8 bits, BI_RLE4 at
 *   4 bits, BI_BITFIELDS at 16 and 32 bits; a width of 0 or more. The
 *   uncompressed ones are sized by their layout: exactly |height| x stride x
 *   planes bytes of pixels and that biSizeImage; a layout above 2^31 - 1
 *   bytes gives NULL. Top-down rows are turned bottom-up.
 * - Everything else comes back as stored, so that a file round-trips through
 *   LoadDIB and SaveDIB: other depths (2, 64 bits ...), plane counts and
 *   bit-field depths, RLE8 at another depth than 8, RLE4 at another than 4,
 *   two-plane RLE, JPEG, PNG and unknown compressions, and a negative
 *   width. Header, masks and colour table are kept; the pixel bytes are the
 *   stored biSizeImage (or, when that is 0, the size of the rows), never more
 *   than the stream holds, and biSizeImage then says how many the block
 *   holds. Other exports refuse what they cannot process (the pixel API
 *   refuses 2 and 64 bits, every compressed form and a negative width).
 * - Truncated files: a file that ends inside the file header or the DIB
 *   header gives NULL. Masks, colour entries and pixel bytes the file does
 *   not supply are zero; but an uncompressed image whose file supplies less
 *   than its pixel array needs is refused (NULL) when the missing part exceeds
 *   both 16 MiB and the part supplied, so a small file cannot make the library
 *   allocate more than 16 MiB beyond twice its own size.
 * - RLE: decoding stops at end-of-bitmap, at the end of the encoded bytes, or
 *   at the first write that would leave the pixel array (the part that fits is
 *   written); the partial result is returned. Pixels the stream skips (delta,
 *   end of line, early end) are colour index 0. An image whose decoded size
 *   exceeds 128 x (encoded bytes) + 16 MiB, more than any stream of that length
 *   can fill with runs, is not decoded (DIBFromRle gives NULL, LoadDIB the
 *   compressed image). Runs flow past the end of a row into its padding and
 *   the next row; end of line always goes to the start of the row after the
 *   one the line started in.
 * ------------------------------------------------------------------------- */

/* LoadDIB (ordinal 24): reads a BMP file, or a headerless packed DIB, from an
 * open stream positioned at its first byte. The stream stays open, after the
 * last byte read. Returns a new image: 40- or 108-byte header (core headers
 * converted: biWidth/biHeight from the unsigned 16-bit fields, biClrUsed =
 * biClrImportant = the colour count), RGBQUAD colour table, biClrUsed
 * completed, biClrImportant 1 turned to 0, masks after the header under
 * BI_BITFIELDS (a 108-byte header file whose bfOffBits leaves no room for
 * masks after the header has them taken from inside the header), pixels from
 * bfOffBits (a gap before them is skipped), top-down rows turned bottom-up
 * (positive height). RLE8/RLE4 images with a 40-byte header are decoded as by
 * DIBFromRle; when that cannot be done (108-byte header, negative height,
 * rows too large or implausible for the codes, no memory) the image is
 * returned compressed as stored, its biSizeImage cut to the bytes the stream
 * held; other forms come back as stored (see above). NULL for a null stream,
 * a header that cannot be read in full, a header size other than 12, 40 and
 * 108, a height of INT_MIN, uncompressed rows that do not fit 2^31 - 1 bytes,
 * or a failed allocation; nothing then stays allocated. */
KELM3_API HGLOBAL WINAPI LoadDIB(HMMIO hmmio);

/* LoadDIBFromFile (ordinal 25): opens the file (MMIO_READ | MMIO_DENYWRITE),
 * calls LoadDIB and closes it. NULL for a null or empty name, a file that
 * cannot be opened, or LoadDIB's failures. */
KELM3_API HGLOBAL WINAPI LoadDIBFromFile(LPCSTR lpszFileName);

/* LoadDIBResource (ordinal 26): copies the RT_BITMAP resource lpszName (a
 * string or MAKEINTRESOURCE identifier) of module hInstance, byte for byte,
 * into a new movable block; nothing is completed or decoded. NULL when the
 * resource is missing, cannot be loaded, is shorter than 40 bytes or does not
 * start with a 40-byte header (a core header gives NULL). On Linux resources
 * are attached with kelm3_AddResource. */
KELM3_API HGLOBAL WINAPI LoadDIBResource(HINSTANCE hInstance, LPCSTR lpszName);

/* DIBFromRle (ordinal 12): a new uncompressed copy of an image: BI_RLE8 at 8
 * bits and BI_RLE4 at 4 bits are decoded (rules above), BI_RGB is copied. The
 * result has the source's header, masks and colour table, biCompression 0 and
 * biSizeImage for uncompressed rows; the source is unchanged. NULL for a null
 * or unusable handle, a negative height, other compressions or bit counts
 * (BI_BITFIELDS included), an implausible RLE size, or no memory. */
KELM3_API HGLOBAL WINAPI DIBFromRle(HGLOBAL hDib);

/* SaveDIB (ordinal 28): writes the image to an open stream as a BMP file:
 * "BM", bfSize = 14 + image bytes, reserved 0, bfOffBits = 14 + biSize +
 * DIBPaletteSize + 12 under BI_BITFIELDS, then header, masks, colour table
 * and pixels as held (compressed images stay compressed; nothing is
 * completed). The image bytes are those its header declares (pixels:
 * |height| x stride x planes, or the stored biSizeImage of compressed data;
 * for uncompressed data a larger biSizeImage when the block holds that many,
 * as forms LoadDIB keeps as stored do), not any excess of the block. Returns 1 when everything was written, 0 for a null
 * stream or image, an image whose layout does not fit its block, or a short
 * write (what was written stays). The stream stays open after the bytes. */
KELM3_API BOOL WINAPI SaveDIB(HMMIO hmmio, HGLOBAL hDib);

/* SaveDIBToFile (ordinal 29): creates or truncates the file (MMIO_CREATE |
 * MMIO_READWRITE), calls SaveDIB and closes it. Returns 0, without touching
 * the file, for a null or empty name and for an image SaveDIB would refuse;
 * 0 when the file cannot be opened; else SaveDIB's result. */
KELM3_API BOOL WINAPI SaveDIBToFile(LPCSTR lpszFileName, HGLOBAL hDib);

/* ---------------------------------------------------------------------------
 * TWAIN acquisition: scanning images into packed DIBs as a TWAIN application.
 * The records and WM_TWAIN_NOTIFY are in kelm3_twain.h. A context handle comes
 * from TWAINInitialize and is freed by TWAINTerminate; every function given a
 * null context returns its failure result (0, or TWRC_FAILURE for
 * TWAINCallDS). Failed source-manager calls show a modal "TWAIN Error" box
 * owned by the context's window, with texts from the library's string table
 * (ids 13016-13028 and 13101-13107).
 * ------------------------------------------------------------------------- */

/* TWAINInitialize (ordinal 39): a new context for the window hWnd (which gets
 * the source's messages and owns error boxes) and the application name appName
 * (its first 33 characters become the identity's Version.Info and
 * ProductName). Nothing is loaded yet. NULL when memory is short. */
KELM3_API HANDLE WINAPI TWAINInitialize(HWND hWnd, LPCSTR appName);

/* TWAINIsDSMOpen (ordinal 40): 1 while the source manager is open, else 0. */
KELM3_API BOOL WINAPI TWAINIsDSMOpen(HANDLE hContext);

/* TWAINSelectDS (ordinal 42): opens the source manager if needed and lets the
 * user choose a source with the manager's dialog. TWRC_SUCCESS (0) when one was
 * chosen (TWAINAquireExt then opens it), TWRC_CANCEL (3) when cancelled, another
 * code after an error box; 0 after an error box when the manager cannot be
 * opened. */
KELM3_API int WINAPI TWAINSelectDS(HANDLE hContext);

/* TWAINTerminate (ordinal 43): closes the source if it is open, then the
 * source manager if it is open, and frees the context. The source is not
 * disabled first. TRUE, or FALSE for a null context. */
KELM3_API BOOL WINAPI TWAINTerminate(HANDLE hContext);

/* TWAINAquire (ordinal 35): opens the manager and its default source and
 * enables the source with its own user interface. 1 when the source is
 * enabled; the images then arrive as WM_TWAIN_NOTIFY while the application
 * passes each message through TWAINIsTwainMessage. 0 on failure. */
KELM3_API BOOL WINAPI TWAINAquire(HANDLE hContext);

/* TWAINAquireExt (ordinal 37): as TWAINAquire, but opens the source chosen
 * with TWAINSelectDS (or the one already open), shows its user interface only
 * when showUI, and first asks for black and white (bitDepth 1), grey (8) or
 * colour (any other nonzero value) pixels; bitDepth 0 leaves the pixel type.
 * 1 when the manager and the source are open afterwards. */
KELM3_API BOOL WINAPI TWAINAquireExt(HANDLE hContext, BOOL showUI, int bitDepth);

/* TWAINGetImage (ordinal 38): TWAINGetImageExt with room for one image; the
 * image (owned by the caller, free it with DIBFree), or NULL. */
KELM3_API HGLOBAL WINAPI TWAINGetImage(BOOL showUI, int bitDepth);

/* TWAINIsTwainMessage (ordinal 41): hands the message lpMsg (as GetMessageA
 * filled it) to the enabled source; runs a batch of transfers, notifying hWnd
 * with WM_TWAIN_NOTIFY, when the source says images are ready. 1 when the
 * message belonged to the source (do not translate or dispatch it), else 0. */
KELM3_API BOOL WINAPI TWAINIsTwainMessage(HANDLE hContext, LPMSG lpMsg, HWND hWnd);

/* TWAINSetResolution (ordinal 67): opens the manager and the source and sets
 * inches and dpi (a TW_FIX32 as a 32-bit value: whole part in the low 16 bits)
 * as X and Y resolution. 1 when all three were accepted. The third argument
 * is ignored. */
KELM3_API BOOL WINAPI TWAINSetResolution(HANDLE hContext, LONG dpi, LONG reserved);

/* TWAINSetRect (ordinal 68): opens the manager and the source and sets the
 * scan frame to lpRect (left, top, right, bottom in twips, 1/1440 inch). 1 when
 * accepted. The third argument is ignored. */
KELM3_API BOOL WINAPI TWAINSetRect(HANDLE hContext, const RECT *lpRect, LONG reserved);

/* TWAINCallDS (ordinal 69): opens the manager and the source if needed and
 * sends them the triplet (dg, dat, msg) with pData; the TWAIN return code, or
 * TWRC_FAILURE when the manager or the source cannot be opened. */
KELM3_API UINT WINAPI TWAINCallDS(HANDLE hContext, DWORD dg, WORD dat, WORD msg, LPVOID pData);

/* TWAINGetImageExt (ordinal 70): scans one batch from the selected or default
 * source with a hidden window and its own message loop, and stores up to
 * capacity image handles in images (owned by the caller); images beyond that
 * are freed. Returns the number stored. One call at a time per process. The
 * fifth argument is ignored. */
KELM3_API int WINAPI TWAINGetImageExt(BOOL showUI, int bitDepth, HGLOBAL *images, int capacity, LONG reserved);

#ifdef __cplusplus
}
#endif

#endif /* KELM3_H */
