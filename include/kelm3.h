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
 * uncompressed rows. Every pixel byte is 0 (row padding included).
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
 * Barcode detection
 *
 * DIBDetectBarCode reads whole rows and/or columns of an image, makes each a
 * run list (a pixel is light when its green channel as a 16-bit value is
 * above 0x8000; the image border counts as a light quiet zone) and tries the
 * enabled decoders on every run list forwards and reversed, so symbols are
 * found in either orientation. One line that passes a symbology's own checks
 * (guards, quiet zones, check digit) is enough to report a code.
 * ------------------------------------------------------------------------- */

/* Flags of DIBDetectBarCode; the symbology bits are also the bits of a
 * reported code (0x12 and 0x22: an EAN-13 read with its 5- or 2-digit add-on). */
#define DBC_EAN13 0x00000002
#define DBC_EAN8 0x00000004
#define DBC_EAN5_ADDON 0x00000010     /* alone, and after an EAN-13 */
#define DBC_EAN2_ADDON 0x00000020     /* alone, and after an EAN-13 */
#define DBC_I2OF5 0x00000040          /* Interleaved 2 of 5 */
#define DBC_CODE39 0x00000100
#define DBC_ROWS 0x00030000           /* scan every row; either bit selects it */
#define DBC_COLUMNS 0x000C0000        /* scan every column; either bit selects it */
#define DBC_NEW_ONLY 0x00100000       /* code events only for entries new to the list */

/* Events of the barcode callback. */
#define DBC_EVENT_PROGRESS 0 /* a line is done: position = its row or column, text "", flags 0x30000 (row) or 0xC0000 (column) */
#define DBC_EVENT_CODE 1     /* a code was decoded: text = the code alone, flags = its symbology bits */

/* The barcode callback: called on the caller's thread from inside
 * DIBDetectBarCode, with the caller's userData; reserved is 0. Return nonzero
 * to go on; 0 cancels the scan once the current line is done (both directions
 * and its progress event). */
typedef BOOL (WINAPI *BarcodeCallback)(int event, int position, LPCSTR text, DWORD flags, DWORD userData,
                                      DWORD reserved);

/* DIBDetectBarCode (ordinal 57): finds Code 39, Interleaved 2 of 5, EAN-13,
 * EAN-8 and EAN 2- and 5-digit add-on symbols in an image the pixel API opens
 * (it is only read). Rows are scanned from the last stored row down to row 0,
 * then columns from 0 up, each column from its last stored row down; a
 * top-down image (negative height) has no rows the pixel API reads, so
 * nothing is found in it. With neither DBC_ROWS nor DBC_COLUMNS nothing is
 * scanned.
 * The result list written to textBuffer is a sequence of zero-terminated
 * entries ended by an empty one (an empty list is two zero bytes). Each entry
 * is the decoded text followed by the symbology names, each after a tab, in
 * this order: "3 of 9", "2 of 5 interleaved", "EAN 13", "EAN 8",
 * "EAN 5 AddOn", "EAN 2 AddOn" (an EAN-13 with its add-on: "DIGITS+ADDON\tEAN
 * 13\tEAN 5 AddOn"). A code found on many lines is listed once. An entry is
 * added only while its offset + length + 2 < textBufferSize; entries that do
 * not fit are left out, and the last byte of the buffer is never used.
 * textBuffer may be NULL (textBufferSize is then ignored; an internal list of
 * 512 bytes still merges duplicates). Otherwise its first two bytes are
 * zeroed at once, or only as many as textBufferSize allows when it is below 2
 * (such a buffer receives no entries).
 * Code 39 and Interleaved 2 of 5 texts are at most 255 characters; a longer
 * symbol is not reported. Code 39 text is as encoded between the start and
 * stop characters, with no check character removed; Interleaved 2 of 5 digits
 * are given without a check-digit test.
 * userData is passed to the callback unchanged; reserved is ignored.
 * Returns 1 when a code was decoded during the call (also when it was a
 * duplicate, did not fit, or had an empty text), 0 otherwise, and 0 for a
 * null handle, an image the pixel API refuses, or no memory. */
KELM3_API BOOL WINAPI DIBDetectBarCode(HGLOBAL hDIB, BarcodeCallback lpfnCallback, DWORD userData, LPSTR textBuffer,
                                       int textBufferSize, DWORD flags, DWORD reserved);

/* ---------------------------------------------------------------------------
 * Geometry
 *
 * Coordinates are those of the pixel API: x from the left, y the stored row
 * (row 0 is the bottom line of a bottom-up image). Every destination pixel is
 * taken from exactly one source pixel (nearest neighbour); nothing is
 * averaged. Background colours are colour words 0x00BBGGRR; KELM3_NO_BACKGROUND
 * (0xFFFFFFFF) leaves uncovered pixels as they were.
 * ------------------------------------------------------------------------- */

/* Message codes of the TransformDIB callbacks. */
#define TRANSFORM_BEGIN 1 /* once before the first row; point and colour NULL */
#define TRANSFORM_END 2   /* once after the last row; point and colour NULL */
#define TRANSFORM_LINE 3  /* start of each destination row, point (0, y) */
#define TRANSFORM_PIXEL 4 /* each destination pixel not skipped, point (x, y) */

#define KELM3_NO_BACKGROUND 0xFFFFFFFFu

/* Mapping callback of TransformDIB: for TRANSFORM_PIXEL it turns the
 * destination point *lpPoint into source coordinates in place. A result of 0
 * skips the row (TRANSFORM_LINE) or the pixel (TRANSFORM_PIXEL). */
typedef LONG (WINAPI *TransformProc)(int nMessage, POINT *lpPoint, LPVOID lpData);

/* Colour callback of TransformDIB: for TRANSFORM_PIXEL it may change the
 * source colour *lpColour (lpPoint holds the source coordinates); 0 leaves
 * the destination pixel untouched. Its result is ignored for other codes. */
typedef LONG (WINAPI *TransformColorProc)(int nMessage, POINT *lpPoint, LPVOID lpData, Rgbq16 *lpColour);

/* TransformDIB (ordinal 44): fills every pixel of the existing image hDst
 * from hSrc through the inverse mapping lpfnMap (NULL: identity). A source
 * point outside the source gets crBackground, or nothing with
 * KELM3_NO_BACKGROUND. Pixel values are copied unchanged when the depths,
 * plane counts and CMYK marks agree, no colour callback is given and (below
 * 16 bits) the colour tables are equal; otherwise they pass through Rgbq16
 * (and lpfnColour) to the destination's format, palettes by nearest colour.
 * Callbacks run on the caller's thread inside the call, in the order BEGIN,
 * then per row LINE and the row's PIXELs, then END; the mapping callback
 * before the colour callback. Both images stay the caller's. Returns 1, or 0
 * with no callback called and nothing written when either image cannot be
 * opened by the pixel API (see RWOpenDIB). */
KELM3_API int WINAPI TransformDIB(HGLOBAL hSrc, HGLOBAL hDst, TransformProc lpfnMap, TransformColorProc lpfnColour,
                                  LPVOID lpData, COLORREF crBackground);

/* RotateDIB (ordinal 27): a new image holding hSrc turned by nAngle tenths of
 * a degree (any value; positive is counter-clockwise as displayed), just
 * large enough for the turned corners, with hSrc's header, depth, planes and
 * colour table. Sine and cosine are taken x 10000 (10000 x sin + 0.5
 * truncated, extended precision; exact at right angles). Quarter and half
 * turns of 1-bit images and of 8, 16, 24 and 32 bits (one or two planes)
 * move pixels unchanged; every other case maps each destination pixel back
 * to the nearest source pixel, and pixels that no source pixel covers get
 * crBackground, or stay 0 with KELM3_NO_BACKGROUND. NULL for a null or
 * unusable source, an image the pixel API cannot open where the general
 * mapping is needed (compressed data, a core header), or no memory. */
KELM3_API HGLOBAL WINAPI RotateDIB(HGLOBAL hSrc, int nAngle, COLORREF crBackground);

/* StretchDIB (ordinal 32): a new image of nWidth x nHeight pixels with
 * hSrc's header and colour table, the source rectangle lprc (stored rows,
 * inclusive edges: left, right the first and last column, bottom the first
 * and top the last row; NULL the whole image) scaled into it as
 * StretchDIB2DIBBlt does. NULL for a null source, a negative size or no
 * memory; a zero size gives an image without pixels. */
KELM3_API HGLOBAL WINAPI StretchDIB(HGLOBAL hSrc, LONG nWidth, LONG nHeight, const RECT *lprc);

/* StretchDIB2DIBBlt (ordinal 33): copies the source rectangle (origin xSrc,
 * ySrc, extent cxSrc x cySrc) into the destination rectangle of hDst, scaled
 * by pixel selection. Same-format byte-sized pixels (or 4-bit ones without
 * horizontal scaling at even columns) with both rectangles inside their
 * images and cyDst > 1 take a byte path that aligns the first and last rows;
 * all else maps each destination pixel to xSrc + MulDiv(x - xDst, cxSrc,
 * cxDst) (likewise y), converting formats, with white for points outside the
 * source. Only pixels inside hDst are written. A negative source extent
 * mirrors; a negative destination extent writes nothing. When widening with a
 * remainder, the byte path's last column reads the pixel right of the
 * rectangle, or the rectangle's last pixel where that lies outside the image.
 * Returns 1, or 0 for a zero destination extent or an image the general path
 * cannot open. */
KELM3_API int WINAPI StretchDIB2DIBBlt(HGLOBAL hDst, int xDst, int yDst, int cxDst, int cyDst, HGLOBAL hSrc, int xSrc,
                                       int ySrc, int cxSrc, int cySrc);

/* DIBAlphaBlend (ordinal 64): blends the source rectangle into the
 * destination rectangle, scaled by pixel selection, with opacity nOpacity
 * (0 .. 255): d += ((s - d) x a) / 255 per colour byte. A source with a
 * 108-byte header whose alpha mask is 0xFF000000 and colour-space type 1 is
 * blended by its own alpha x nOpacity / 255. Blending needs 24- or 32-bit
 * one-plane uncompressed images, a non-CMYK destination, rectangles inside
 * their images, cyDst > 1, and an alpha channel or an opacity below 255;
 * anything else is an opaque StretchDIB2DIBBlt with the same rectangles.
 * Returns 1, 0 for a zero destination extent, or StretchDIB2DIBBlt's result. */
KELM3_API int WINAPI DIBAlphaBlend(HGLOBAL hDst, int xDst, int yDst, int cxDst, int cyDst, HGLOBAL hSrc, int xSrc,
                                   int ySrc, int cxSrc, int cySrc, int nOpacity);

/* ---------------------------------------------------------------------------
 * Device output
 *
 * Images meet the graphics device interface here. Functions that hand an
 * image's header to GDI set its biPlanes to 1 in the caller's block for the
 * duration of the call (so that the two-plane form is drawn as its first
 * plane) and put the old value back on every path: no other thread may use
 * the image meanwhile. Every DC, bitmap and palette a function obtains is
 * released before it returns; only the documented result passes to the caller.
 * ------------------------------------------------------------------------- */

/* BitmapFromDIB (ordinal 1): a device bitmap of the image, owned by the caller
 * (DeleteObject). A 1-bit image gives a monochrome bitmap without a palette,
 * and with one when its table starts white, black or black, white; other
 * images a screen-compatible bitmap (CreateDIBitmap on the screen's DC with
 * hPal selected and realized when given). The physical size is set to
 * MulDiv(width, 10000, biXPelsPerMeter) x MulDiv(height, 10000,
 * biYPelsPerMeter) tenths of a millimetre (-1 for a zero resolution). Shows
 * the wait cursor meanwhile. NULL for a null or unusable image or a GDI
 * failure. */
KELM3_API HBITMAP WINAPI BitmapFromDIB(HGLOBAL hDib, HPALETTE hPal);

/* CreateBIPalette (ordinal 4), header pointer: a logical palette (owned by the
 * caller) of the image's colour-table entries (DIBNumPaletteColors of them,
 * peFlags 0), or for an image of 9 bits or more without a table the 256-entry
 * cube of 8 reds x 8 greens x 4 blues (entry i: red 32 (i mod 8), green
 * 32 ((i / 8) mod 8), blue 64 (i / 64)). NULL for a null pointer, an image of
 * 8 bits or less without a table, or a failure. */
KELM3_API HPALETTE WINAPI CreateBIPalette(LPCVOID lpbi);

/* CreateDIBPalette (ordinal 7): CreateBIPalette of the locked image; NULL for
 * a null or unusable handle. */
KELM3_API HPALETTE WINAPI CreateDIBPalette(HGLOBAL hDib);

/* DIBBlt (ordinal 10): draws the image's rectangle from (xSrc, ySrc) (rows
 * counted from the first stored row, as SetDIBitsToDevice counts them) to
 * (xDest, yDest, width, height) of hdc, unstretched. Returns 1 after drawing
 * (the raster operation is not used for images), 0 for an unusable image;
 * with a NULL image it fills the rectangle with PatBlt and rop and returns
 * PatBlt's result. */
KELM3_API BOOL WINAPI DIBBlt(HDC hdc, int xDest, int yDest, int width, int height, HGLOBAL hDib, int xSrc, int ySrc,
                             DWORD rop);

/* DIBFromBitmap (ordinal 11): a new bottom-up packed DIB (40-byte header) of a
 * device bitmap, owned by the caller. compression is BI_RGB, BI_RLE8 or
 * BI_RLE4 (others give NULL); the low 16 bits of bitCount give the depth, 0
 * the bitmap's own; the colour table comes from hPal (NULL: the default
 * palette) as GetDIBits gives it. A physical size set on the bitmap becomes
 * the resolution (MulDiv(pixels, 10000, tenths of a millimetre)), else 0.
 * NULL for a null bitmap or any failure, with nothing left allocated. */
KELM3_API HGLOBAL WINAPI DIBFromBitmap(HBITMAP hBitmap, DWORD compression, UINT bitCount, HPALETTE hPal);

/* DrawBitmap (ordinal 19): BitBlt of the whole bitmap to (x, y) of hdc with
 * rop through a memory DC. Returns BitBlt's result, 0 for a null DC or
 * bitmap. */
KELM3_API BOOL WINAPI DrawBitmap(HDC hdc, int x, int y, HBITMAP hBitmap, DWORD rop);

/* Splineline (ordinal 31): draws the open clamped quadratic B-spline of count
 * control points with Polyline: the first point, 5 x count samples, the last
 * point. Two points are drawn as their segment; fewer draw nothing (0).
 * Returns Polyline's result, or 0 when memory cannot be had. */
KELM3_API BOOL WINAPI Splineline(HDC hdc, const POINT *points, int count);

/* StretchDIBBlt (ordinal 34): draws the source rectangle (xSrc, ySrc, srcWidth,
 * srcHeight; rows from the first stored row) of the image into the
 * destination rectangle of hdc, stretched. Ordinary images: StretchDIBits
 * with rop; 1 when it drew scan lines, else 0. CMYK images (DIBIsCmyk, 32
 * bits) to a PostScript printer (IsPostScriptDC): a DeviceCMYK PostScript
 * image of the rectangle in POSTSCRIPT_DATA escapes (one per pixel, one per
 * line break after every 16 pixels), bracketed by save and restore; source
 * pixels outside the image are sent as no ink; result 1. CMYK images to any
 * other device: converted to RGB in a temporary copy and drawn as ordinary
 * images; the result is StretchDIBits' scan-line count (0 when the copy
 * cannot be made). A NULL image fills the destination with PatBlt and rop
 * (its result); an unusable one gives 0. */
KELM3_API LONG WINAPI StretchDIBBlt(HDC hdc, int xDest, int yDest, int width, int height, HGLOBAL hDib, int xSrc,
                                    int ySrc, int srcWidth, int srcHeight, DWORD rop);

/* IsPostScriptDC (ordinal 62): 1 when hdc is a raster printer (TECHNOLOGY is
 * DT_RASPRINTER) whose driver supports the POSTSCRIPT_IGNORE escape
 * (QUERYESCSUPPORT), else 0. */
KELM3_API BOOL WINAPI IsPostScriptDC(HDC hdc);

/* DIBScreenShot (ordinal 63): the screen's pixels under a rectangle as a new
 * packed DIB of the screen's depth, owned by the caller. The rectangle is
 * rect relative to the window's top-left corner, or the whole window without
 * rect; hWnd NULL is the desktop. It is cut at the screen's edges. NULL for an
 * empty rectangle, one wholly off the screen, or a failure. */
KELM3_API HGLOBAL WINAPI DIBScreenShot(HWND hWnd, const RECT *rect);

/* ---------------------------------------------------------------------------
 * Colour: depth conversion, colour selection, dithering, grey, gamma, filters
 *
 * Grey value throughout: (77 x red + 151 x green + 28 x blue) / 256.
 * The dithers take a header pointer: when it is the first byte of a global
 * block (GlobalHandle finds the block), a header whose layout does not fit
 * GlobalSize of that block is refused (NULL); any other pointer is trusted.
 * ------------------------------------------------------------------------- */

/* ConvertDIB (ordinal 2): converts *phDIB to nBitCount bits (1, 4, 8, 16, 24,
 * 32; 48 and 64 give the two-plane form). To 32 bits a bottom-up BI_RGB image
 * with a 40-byte header is expanded inside its own block (which may move);
 * otherwise a new image with the default colour table of its depth is made,
 * filled line by line through the pixel accessor (no dithering), and the old
 * handle is freed. Returns 1 with *phDIB holding the result, or 0 with *phDIB
 * unchanged and still valid (null phDIB or *phDIB, unsupported layout, no
 * memory). reserved is ignored. */
KELM3_API BOOL WINAPI ConvertDIB(HGLOBAL *phDIB, int nBitCount, DWORD reserved);

/* DIBSelectColors (ordinal 46): chooses up to nColors (1..256) colours by
 * median-cut box splitting over a 64x64x64 histogram of the image, returned
 * as the colour table of a new 1 x 1 8-bit image (entries past those found
 * are black; biClrUsed = biClrImportant = nColors). The source is unchanged.
 * Sums are 64-bit. NULL for a null handle, nColors outside 1..256, or no
 * memory. An image RWOpenDIB refuses gives one black entry. */
KELM3_API HGLOBAL WINAPI DIBSelectColors(HGLOBAL hDIB, int nColors);

/* DitherTo1 (ordinal 16), header pointer: Floyd-Steinberg (rows right to
 * left) of the grey value, optionally through the 256-byte lpGrayMap, to a
 * new 1-bit black/white image. Sources: bottom-up, width and height >= 1,
 * BI_RGB or BI_BITFIELDS, 4, 8, 16 (read as 5-5-5), 24 or 32 bits. NULL
 * otherwise or when memory runs out. */
KELM3_API HGLOBAL WINAPI DitherTo1(LPCVOID lpbi, const BYTE *lpGrayMap);

/* DitherTo4 (ordinal 17), header pointer: damped error diffusion to the
 * standard 16-colour table, a new 4-bit image. Sources: 40-byte header,
 * bottom-up, BI_RGB or BI_BITFIELDS, 8, 16, 24 or 32 bits; any width and
 * height. */
KELM3_API HGLOBAL WINAPI DitherTo4(LPCVOID lpbi);

/* DitherTo8 (ordinal 18), header pointer: serpentine Floyd-Steinberg to a new
 * 8-bit image. Palette: the colour table of lpbiPalette (an 8-bit packed DIB
 * header pointer, e.g. the locked result of DIBSelectColors; its
 * biClrImportant 1..255 entries, else 255), or a cube of nLevels (2..6) per
 * channel followed by 16 greys and white when nPopular is 0, and/or the
 * nPopular (0..255) most frequent 15-bit colours followed by the standard 16
 * colours when 240 or fewer entries precede them. Sources: bottom-up, BI_RGB
 * or BI_BITFIELDS, 16, 24 or 32 bits. NULL for nLevels 1 or above 6, nPopular
 * outside 0..255, no palette (both 0), more than 256 entries, a palette
 * image that is not 8 bits, or no memory. Calls may run concurrently. */
KELM3_API HGLOBAL WINAPI DitherTo8(LPCVOID lpbi, int nLevels, int nPopular, LPCVOID lpbiPalette);

/* GrayDIB (ordinal 23): up to 16 bits, the colour table is turned grey in
 * place and hDIB is returned. 24 and 32 bits (CMYK converted first, two-plane
 * form too): a new 8-bit grey image is returned and hDIB IS FREED; on failure
 * NULL and hDIB stays valid. NULL for a null handle, a compressed image or an
 * unusable block. */
KELM3_API HGLOBAL WINAPI GrayDIB(HGLOBAL hDIB);

/* ScaleToGray (ordinal 30): box-averages the rectangle lprcSource (inclusive
 * edges, rows in memory order, top >= bottom; NULL for the whole image) to a
 * new cxDest x cyDest image: 8 bits with the 65-level grey ramp at entries
 * 0..64 for 1-bit sources, 24 bits otherwise. NULL for cxDest or cyDest below
 * 1, a rectangle outside the image, an unusable source or no memory. reserved
 * is ignored. */
KELM3_API HGLOBAL WINAPI ScaleToGray(HGLOBAL hDIB, int cxDest, int cyDest, const RECT *lprcSource, DWORD reserved);

/* GammaCorrectionGetArray (ordinal 21): fills lpTable[0..255] with
 * trunc(255 x (i / 255) ^ (nGamma / 10000)) in double precision; nGamma
 * 10000 (or not positive) gives the identity. reserved1/2 are ignored. */
KELM3_API void WINAPI GammaCorrectionGetArray(LONG nGamma, DWORD reserved1, DWORD reserved2, LPBYTE lpTable);

/* GammaCorrectionApplyToDIB (ordinal 20): applies lpTable (or the table of
 * nGamma when NULL) in place: to the colour table at 8 bits or less, to every
 * pixel byte otherwise (16 bits as 5-5-5, CMYK through the inverted inks);
 * the two-plane form uses 65280 x (v / 65280) ^ (10000 / nGamma), clamped to
 * 65535. nGamma 10000, nGamma <= 0, a null or unusable image: no change. */
KELM3_API void WINAPI GammaCorrectionApplyToDIB(HGLOBAL hDIB, LONG nGamma, DWORD reserved1, DWORD reserved2,
                                                LPBYTE lpTable);

/* CreateFIRFilteredDIB (ordinal 8): convolves a 24- or 32-bit image (two-plane
 * and CMYK included) with the kw x kh kernel (weights in 1/256, row 0 over
 * row y - kh/2 in memory order), adds nOffset and clamps; taps outside the
 * image are skipped. Returns a new block of the source's size with its header,
 * the bit-field masks behind a 40-byte BI_BITFIELDS header, and the filtered
 * pixels; the colour table is not copied (zero). NULL for a null kernel,
 * kw or kh not odd and positive, another depth, an unusable source or no
 * memory. Sums are 64-bit. */
KELM3_API HGLOBAL WINAPI CreateFIRFilteredDIB(HGLOBAL hDIB, const LONG *lpKernel, int kw, int kh, int nOffset);

/* CreateSharpenedDIB (ordinal 9): CreateFIRFilteredDIB with the 3 x 3 kernel
 * (0, -64, 0), (-64, 512, -64), (0, -64, 0) and offset 0. */
KELM3_API HGLOBAL WINAPI CreateSharpenedDIB(HGLOBAL hDIB);

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

/* ---------------------------------------------------------------------------
 * Metafile rotation
 * ------------------------------------------------------------------------- */

/* GetMetaFileWindowExt (ordinal 22): the window extent (last
 * META_SETWINDOWEXT), window origin (last META_SETWINDOWORG) and map mode
 * (last META_SETMAPMODE) that a metafile sets, sign-extended from their
 * 16-bit parameters; 0 for each the metafile does not set. Any output may be
 * NULL. Records too short for their parameters are not read. */
KELM3_API void WINAPI GetMetaFileWindowExt(HMETAFILE hMF, LPSIZE extent, LPPOINT origin, LPLONG mapMode);

/* RotateMetaFile (ordinal 45): a new memory metafile (the caller's, freed with
 * DeleteMetaFile) showing hMF turned by angle tenths of a degree,
 * counter-clockwise, with the integer matrix c = cos x 1000, s = sin x 1000
 * (truncated): x' = MulDiv(x, c, 1000) + MulDiv(y, s, 1000) + dx,
 * y' = -MulDiv(x, s, 1000) + MulDiv(y, c, 1000) + dy, the y terms negated when
 * the source window's height is negative. The result's window is
 * MM_ANISOTROPIC with origin 0, 0 and the extent of the turned source window,
 * which (dx, dy) moves to start at 0, 0. Point and rectangle records are
 * rewritten, font escapements turned by the angle, the corner size of
 * rounded rectangles turned as a size (width and height exchanged nearer odd
 * quarter turns), stretched bitmaps turned with RotateDIB (corners white) and
 * drawn with StretchDIBBlt; other records are copied. Records too short for
 * their fields, or naming handle-table slots outside the table, are left
 * out. points holds x1, y1, x2, y2 and a fifth value: the two points receive
 * their images under the matrix alone (no dx, dy), the fifth is unchanged;
 * NULL is allowed. NULL when the new metafile cannot be made. */
KELM3_API HMETAFILE WINAPI RotateMetaFile(HMETAFILE hMF, LONG angle, LPLONG points);

/* RotateEnhMetaFile (ordinal 101): a new enhanced metafile (the caller's, freed
 * with DeleteEnhMetaFile) showing hEMF turned by angle tenths of a degree with
 * the matrix of RotateMetaFile and no translation: (x, y) becomes about
 * (x c + y s, y c - x s) / 1000. Its description is the source's; its frame
 * is what GDI computes from the drawing. Clip-rectangle records are dropped;
 * poly-text records are copied unchanged, with one MessageBeep(0) each.
 * Records that do not fit their stated sizes are left out. NULL when the new
 * metafile cannot be made. */
KELM3_API HENHMETAFILE WINAPI RotateEnhMetaFile(HENHMETAFILE hEMF, LONG angle);

#ifdef __cplusplus
}
#endif

#endif /* KELM3_H */
