// Palette inversion: the table entry nearest a colour by squared RGB distance,
// remembered per record in a 512 KB discardable cache keyed by the top six bits
// of each channel (2^18 entries), so repeated colours cost a lookup, not a scan.
#include "pixel/pixel.h"

namespace kelm {

namespace {

// A cache entry holds 256 + index; 0 marks an empty entry.
constexpr WORD kCacheValid = 0x100;

// Locks the record's cache, making it first if there is none. A cache the
// system discarded cannot be locked: it is freed and a fresh, empty one takes
// its place. Null when no cache can be had; the search then scans.
WORD* lock_cache(TRDIB* rd)
{
    if (rd->hPaletteInversionCache) {
        if (void* p = GlobalLock(rd->hPaletteInversionCache))
            return static_cast<WORD*>(p);
        GlobalFree(rd->hPaletteInversionCache);
        rd->hPaletteInversionCache = nullptr;
    }
    HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE | GMEM_DISCARDABLE | GMEM_ZEROINIT, kInversionCacheBytes);
    if (!h)
        return nullptr;
    void* p = GlobalLock(h);
    if (!p) {
        GlobalFree(h);
        return nullptr;
    }
    rd->hPaletteInversionCache = h;
    return static_cast<WORD*>(p);
}

}  // namespace

UINT scan_palette(const TRDIB* rd, DWORD colour)
{
    const int red = static_cast<int>(colour & 0xFF);
    const int green = static_cast<int>((colour >> 8) & 0xFF);
    const int blue = static_cast<int>((colour >> 16) & 0xFF);
    // Strictly smaller distances only replace the best, so ties keep the
    // lower index; an empty table gives 0.
    int best = 2147483647;
    UINT result = 0;
    const RGBQUAD* e = rd->lppal;
    for (UINT i = 0; i < rd->PaletteSearchable; ++i, ++e) {
        const int db = e->rgbBlue - blue, dg = e->rgbGreen - green, dr = e->rgbRed - red;
        const int d = db * db + dg * dg + dr * dr;
        if (d < best) {
            best = d;
            result = i;
        }
    }
    return result;
}

NearestSearch::NearestSearch(TRDIB* rd) : rd_(rd), cache_(rd->BitCount < 16 ? lock_cache(rd) : nullptr) {}

NearestSearch::~NearestSearch()
{
    if (cache_)
        GlobalUnlock(rd_->hPaletteInversionCache);
}

UINT NearestSearch::find(DWORD colour)
{
    if (rd_->BitCount >= 16)
        return colour;
    const DWORD key = ((colour & 0xFF) >> 2) | (((colour >> 8) & 0xFF) >> 2) << 6 | (((colour >> 16) & 0xFF) >> 2) << 12;
    if (cache_ && cache_[key] != 0)
        return cache_[key] & 0xFF;
    const UINT result = scan_palette(rd_, colour);
    if (cache_)
        cache_[key] = static_cast<WORD>(kCacheValid + result);
    return result;
}

UINT nearest_colour(TRDIB* rd, DWORD colour)
{
    if (rd->BitCount >= 16)
        return colour;
    NearestSearch search(rd);
    return search.find(colour);
}

}  // namespace kelm
