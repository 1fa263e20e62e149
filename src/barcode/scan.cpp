// The barcode scan driver: every selected row and column is read through the
// pixel API, binarised on its green channel into a run list, and decoded
// forwards and reversed. Found codes go into a double-zero-terminated result
// list that merges duplicates, and to the caller's callback.
#include <algorithm>
#include <cstring>
#include <limits>
#include <new>

#include "barcode/barcode.h"
#include "platform/platform.h"

namespace kelm {

int64_t bc_muldiv(int64_t a, int64_t b, int64_t c)
{
    if (a >= std::numeric_limits<int>::min() && a <= std::numeric_limits<int>::max() &&
        b >= std::numeric_limits<int>::min() && b <= std::numeric_limits<int>::max() &&
        c >= std::numeric_limits<int>::min() && c <= std::numeric_limits<int>::max()) {
        const int64_t p = a * b;
        // Within 32 bits the library's one MulDiv decides; its -1 for an
        // overflowing quotient only happens on widths no image line holds.
        if (p / (c ? c : 1) < std::numeric_limits<int>::max())
            return MulDiv(static_cast<int>(a), static_cast<int>(b), static_cast<int>(c));
    }
    // Wider values (runs of millions of pixels) keep the same rounding: the
    // factors here are run sums times at most 1000, far inside 64 bits.
    if (c == 0)
        return -1;
    const int64_t p = a * b;
    const bool negative = (p < 0) != (c < 0);
    const uint64_t pm = p < 0 ? 0 - static_cast<uint64_t>(p) : static_cast<uint64_t>(p);
    const uint64_t cm = c < 0 ? 0 - static_cast<uint64_t>(c) : static_cast<uint64_t>(c);
    const uint64_t q = (pm + cm / 2) / cm;
    return negative ? -static_cast<int64_t>(q) : static_cast<int64_t>(q);
}

int extract_runs(const Rgbq16* pixels, int count, uint32_t* runs)
{
    // Light is green above half scale; 0x8000 itself is dark. Only green is
    // looked at: barcodes are printed dark on light, and green carries most
    // of the luminance of any colour.
    int n = 0;
    bool dark = false;
    uint32_t run = kBorderRun;
    for (int i = 0; i < count; ++i) {
        const bool d = pixels[i].green <= 0x8000;
        if (d == dark) {
            ++run;
        } else {
            runs[n++] = run;
            dark = d;
            run = 1;
        }
    }
    if (dark)
        runs[n++] = run;
    // The light run that ends the line is replaced by the border width.
    runs[n++] = kBorderRun;
    return n;
}

void decode_line(BarcodeScan& scan, const uint32_t* runs, int count)
{
    if (scan.flags & kBcCode39)
        scan_code39(scan, runs, count);
    if (scan.flags & kBcI2of5)
        scan_i2of5(scan, runs, count);
    if (scan.flags & (kBcEan13 | kBcEan8 | kBcEan5 | kBcEan2))
        scan_ean(scan, runs, count);
}

namespace {

struct SymbologyName {
    DWORD bit;
    const char* name;
};
// The order in which names follow the text of an entry.
constexpr SymbologyName kNames[] = {
    {kBcCode39, "\t3 of 9"}, {kBcI2of5, "\t2 of 5 interleaved"}, {kBcEan13, "\tEAN 13"},
    {kBcEan8, "\tEAN 8"},    {kBcEan5, "\tEAN 5 AddOn"},         {kBcEan2, "\tEAN 2 AddOn"},
};

// Appends src to the entry being built, keeping the terminating zero inside.
void append(char* entry, size_t* len, const char* src)
{
    const size_t n = std::min(std::strlen(src), static_cast<size_t>(kEntrySize - 1) - *len);
    std::memcpy(entry + *len, src, n);
    *len += n;
    entry[*len] = 0;
}

}  // namespace

void report_code(BarcodeScan& scan, const char* text, DWORD bits)
{
    bool added = false;
    if (text[0]) {
        char entry[kEntrySize];
        size_t len = 0;
        entry[0] = 0;
        append(entry, &len, text);
        for (const SymbologyName& s : kNames)
            if (bits & s.bit)
                append(entry, &len, s.name);
        // Walk the list to its empty entry, stopping at an equal entry. The
        // walk never leaves the buffer: an entry the list itself holds ends
        // inside it, and a list too small for its terminator has no room.
        const int size = scan.listSize;
        int offset = 0;
        bool duplicate = false;
        while (offset < size && scan.list[offset]) {
            const char* e = scan.list + offset;
            const size_t elen = strnlen(e, static_cast<size_t>(size - offset));
            if (elen == len && std::memcmp(e, entry, len) == 0) {
                duplicate = true;
                break;
            }
            offset += static_cast<int>(elen) + 1;
        }
        if (!duplicate && offset < size && static_cast<int64_t>(size) > static_cast<int64_t>(offset) + static_cast<int64_t>(len) + 2) {
            std::memcpy(scan.list + offset, entry, len + 1);
            scan.list[offset + len + 1] = 0;
            added = true;
        }
    }
    if (scan.callback && (added || !(scan.flags & kBcNewOnly))) {
        if (!scan.callback(DBC_EVENT_CODE, scan.position, text, bits, scan.userData, 0))
            scan.cancel |= 1;
    }
    scan.found = 1;
}

namespace {

// Both directions of one line, then its progress event.
void scan_line(BarcodeScan& scan, const Rgbq16* pixels, int pixelCount, uint32_t* runs, DWORD lineFlags)
{
    const int count = extract_runs(pixels, pixelCount, runs);
    decode_line(scan, runs, count);
    std::reverse(runs, runs + count);
    decode_line(scan, runs, count);
    if (scan.callback && !scan.callback(DBC_EVENT_PROGRESS, scan.position, "", lineFlags, scan.userData, 0))
        scan.cancel |= 1;
}

struct ScanRecord {
    BarcodeScan* p = static_cast<BarcodeScan*>(LocalAlloc(LPTR, sizeof(BarcodeScan)));
    ~ScanRecord()
    {
        if (p)
            LocalFree(p);
    }
};

struct LineBuffers {
    void* block = nullptr;
    ~LineBuffers()
    {
        if (block)
            LocalFree(block);
    }
};

struct OpenImage {
    LPTRDIB rw;
    explicit OpenImage(HGLOBAL h) : rw(RWOpenDIB(h)) {}
    ~OpenImage()
    {
        if (rw)
            RWClose(rw);
    }
};

}  // namespace

BOOL detect_barcode(HGLOBAL hDib, BarcodeCallback callback, DWORD userData, LPSTR textBuffer, int textBufferSize,
                    DWORD flags)
{
    ScanRecord record;
    // The caller's list is emptied before anything can fail; a buffer said to
    // be shorter than two bytes gets only the zeros it has room for.
    if (textBuffer) {
        if (textBufferSize > 0)
            textBuffer[0] = 0;
        if (textBufferSize > 1)
            textBuffer[1] = 0;
    }
    if (!record.p)
        return 0;
    BarcodeScan& scan = *record.p;
    if (textBuffer) {
        scan.list = textBuffer;
        scan.listSize = textBufferSize > 1 ? textBufferSize : 0;
    } else {
        scan.list = scan.internalList;
        scan.listSize = kInternalListSize;
    }
    scan.callback = callback;
    scan.userData = userData;
    scan.flags = flags;
    if (!hDib || !DIBInfo(hDib, &scan.header, sizeof scan.header))
        std::memset(&scan.header, 0, sizeof scan.header);

    OpenImage image(hDib);
    if (!image.rw)
        return 0;
    const bool rows = (flags & kBcRows) != 0, columns = (flags & kBcColumns) != 0;
    const int64_t width = std::max<int64_t>(scan.header.biWidth, 0);
    const int64_t height = scan.header.biHeight < 0 ? -static_cast<int64_t>(scan.header.biHeight)
                                                    : static_cast<int64_t>(scan.header.biHeight);
    if (!rows && !columns)
        return 0;

    // One block for the run list and one line of pixels, each with room for
    // the longest line plus two entries. Only lines that will be scanned
    // count: a zero-width image with two billion rows needs no room.
    int64_t longest = 0;
    if (rows && height > 0)
        longest = std::max(longest, width);
    if (columns && width > 0)
        longest = std::max(longest, height);
    const uint64_t entries = static_cast<uint64_t>(longest) + 2;
    const uint64_t bytes = entries * (sizeof(uint32_t) + sizeof(Rgbq16));
    if (bytes > std::numeric_limits<SIZE_T>::max())
        return 0;
    LineBuffers buffers;
    buffers.block = LocalAlloc(LPTR, static_cast<SIZE_T>(bytes));
    if (!buffers.block)
        return 0;
    auto* runs = static_cast<uint32_t*>(buffers.block);
    auto* pixels = reinterpret_cast<Rgbq16*>(runs + entries);

    const int w = static_cast<int>(width), h = static_cast<int>(height);
    if (rows) {
        for (int y = h - 1; y >= 0 && !scan.cancel; --y) {
            scan.position = y;
            RWGetLineRGB16(image.rw, 0, y, w, pixels);
            scan_line(scan, pixels, w, runs, kBcRows);
        }
    }
    if (columns) {
        for (int x = 0; x < w && !scan.cancel; ++x) {
            scan.position = x;
            for (int y = h - 1, i = 0; y >= 0; --y, ++i)
                RWGetPixelRGB16(image.rw, x, y, &pixels[i]);
            scan_line(scan, pixels, h, runs, kBcColumns);
        }
    }
    return scan.found;
}

}  // namespace kelm
