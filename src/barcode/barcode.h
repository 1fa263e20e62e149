// Barcode detection: image lines become run lists (alternating light and dark
// run widths), and the symbology scanners read codes from the run lists with
// integer arithmetic only. The scan state and the result list live in one
// per-call record, so the detector is re-entrant.
#pragma once

#include <cstdint>

#include "kelm3.h"

namespace kelm {

// Flags and symbology bits (kelm3.h has the public names).
inline constexpr DWORD kBcEan13 = 0x02;
inline constexpr DWORD kBcEan8 = 0x04;
inline constexpr DWORD kBcEan5 = 0x10;
inline constexpr DWORD kBcEan2 = 0x20;
inline constexpr DWORD kBcI2of5 = 0x40;
inline constexpr DWORD kBcCode39 = 0x100;
inline constexpr DWORD kBcRows = 0x30000;
inline constexpr DWORD kBcColumns = 0xC0000;
inline constexpr DWORD kBcNewOnly = 0x100000;

// Width added to the light runs at both ends of a line: the image border
// counts as a quiet zone wider than any symbol needs.
inline constexpr uint32_t kBorderRun = 1000;
// Size of the internal result list, of an entry being built, and of the text
// buffers of Code 39 and Interleaved 2 of 5 (255 characters and a zero).
inline constexpr int kInternalListSize = 512;
inline constexpr int kEntrySize = 512;
inline constexpr int kTextSize = 256;

// The state of one DIBDetectBarCode call.
struct BarcodeScan {
    DWORD userData;
    BarcodeCallback callback;
    BITMAPINFOHEADER header;
    char* list;       // the result list: caller's buffer or internalList
    int listSize;     // its size in bytes (0 when the caller's buffer holds no list)
    BOOL found;
    DWORD cancel;
    int position;
    DWORD flags;
    char internalList[kInternalListSize];
};

// Builds the run list of `count` pixels into runs (room for count + 2
// entries) and returns its entry count (odd; {1000} for no pixels).
int extract_runs(const Rgbq16* pixels, int count, uint32_t* runs);

// Runs the enabled scanners over one run list.
void decode_line(BarcodeScan& scan, const uint32_t* runs, int count);

// Records one decoded code in the result list and tells the callback.
void report_code(BarcodeScan& scan, const char* text, DWORD bits);

// The symbology scanners; each walks every light entry as a candidate start.
void scan_code39(BarcodeScan& scan, const uint32_t* runs, int count);
void scan_i2of5(BarcodeScan& scan, const uint32_t* runs, int count);
void scan_ean(BarcodeScan& scan, const uint32_t* runs, int count);
// An add-on whose quiet zone is runs[0] (count entries from there); prefix is
// the 13 digits of a preceding EAN-13 or null. True when it reported.
bool scan_ean_addon(BarcodeScan& scan, const char* prefix, const uint32_t* runs, int count);

// Width of an EAN-family symbol in thousandths of a pixel, from the module
// width its first three guard elements (g modules) give.
int64_t symbol_width(const uint32_t* e, int count, int g);

// Turns runs (entry 0 dark) into n modules of width a (thousandths). On
// success *next is the index of the first entry not consumed (the light run
// after the symbol).
bool modules_from_runs(const uint32_t* e, int count, int64_t a, int n, uint8_t* modules, int* next);

// MulDiv's rounding (nearest, halves away from zero) for the fixed-point
// widths, which can exceed 32 bits on absurdly long runs.
int64_t bc_muldiv(int64_t a, int64_t b, int64_t c);

// The scan driver behind DIBDetectBarCode.
BOOL detect_barcode(HGLOBAL hDib, BarcodeCallback callback, DWORD userData, LPSTR textBuffer, int textBufferSize,
                    DWORD flags);

}  // namespace kelm
