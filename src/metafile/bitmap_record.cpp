#include "metafile/bitmap_record.h"

#include "device/device.h"
#include "geometry/geometry.h"

namespace kelm {

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
    if (bytes == 0 || bytes > kMaxBlockSize)
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
