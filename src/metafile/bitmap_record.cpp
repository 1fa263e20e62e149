#include "metafile/bitmap_record.h"

#include <algorithm>
#include <cmath>

#include "device/device.h"
#include "geometry/geometry.h"

namespace kelm {

namespace {

// A bitmap record is turned at full resolution, and the bounding box of a
// long thin bitmap turned by an odd angle holds far more pixels than the
// bitmap: one row of 100,000 pixels, a 12 KB record, would become 625 MB at
// 45 degrees and take seconds to fill. A turned bitmap may hold this many
// times the pixels of its record (a 30:1 banner at 45 degrees needs 16),
// or kTurnedFloor pixels whatever the record holds.
constexpr double kTurnedGrowth = 20;
constexpr double kTurnedFloor = 1 << 24;

bool turned_size_acceptable(const uint8_t* p, uint64_t bytes, int32_t angle)
{
    DibLayout l;
    if (!dib_layout(p, bytes, &l) || l.width == 0 || l.rows == 0)
        return false;  // nothing to read, or no pixels to show
    LONG sine, cosine;
    rotation_sin_cos(normalise_angle(angle), &sine, &cosine);
    const double w = static_cast<double>(l.width), h = static_cast<double>(l.rows);
    const double s = std::abs(sine) / 10000.0, c = std::abs(cosine) / 10000.0;
    // The turned box, with a row and a column to spare for the rounding of
    // its corners.
    const double turned = (w * c + h * s + 2) * (w * s + h * c + 2);
    return turned <= std::max(kTurnedGrowth * w * h, kTurnedFloor);
}

}  // namespace

RecordCopy::RecordCopy(const uint8_t* p, size_t n)
{
    h_ = GlobalAlloc(GMEM_MOVEABLE, n ? n : 1);
    if (!h_)
        return;
    data_ = static_cast<uint8_t*>(GlobalLock(h_));
    if (data_)
        std::memcpy(data_, p, n);
}

RecordCopy::~RecordCopy()
{
    if (data_)
        GlobalUnlock(h_);
    if (h_)
        GlobalFree(h_);
}

void draw_turned_dib(HDC target, const MetaMatrix& m, const uint8_t* p, uint64_t bytes, const RECT& dest,
                     int32_t srcWidth, int32_t srcHeight, DWORD rop)
{
    if (bytes == 0 || bytes > kMaxBlockSize || !turned_size_acceptable(p, bytes, m.angle))
        return;
    HGLOBAL copy = GlobalAlloc(GMEM_MOVEABLE, static_cast<SIZE_T>(bytes));
    if (!copy)
        return;
    if (void* q = GlobalLock(copy)) {
        std::memcpy(q, p, static_cast<size_t>(bytes));
        GlobalUnlock(copy);
    } else {
        GlobalFree(copy);
        return;
    }
    HGLOBAL turned = rotate_dib(copy, m.angle, 0x00FFFFFF);
    GlobalFree(copy);
    if (!turned)
        return;
    {
        LockedDib dib(turned);
        if (dib.ok() && !dib.layout().core && !dib.layout().compressed)
            st32(dib.bytes(), bih::SizeImage, static_cast<uint32_t>(dib.layout().pixelBytes));
    }
    const auto width = static_cast<int32_t>(static_cast<uint32_t>(dest.right) - static_cast<uint32_t>(dest.left));
    const auto height = static_cast<int32_t>(static_cast<uint32_t>(dest.bottom) - static_cast<uint32_t>(dest.top));
    stretch_dib_blt(target, dest.left, dest.top, width, height, turned, 0, 0, srcWidth, srcHeight, rop);
    GlobalFree(turned);
}

}  // namespace kelm
