// Layout checks and allocation shared by the colour operations: the header
// pointers of the dithers are looked up as blocks, and every new image is
// sized by compute_layout.
#include "colour/colour.h"

namespace kelm {

bool pointer_layout(const void* lpbi, DibLayout* out, uint64_t* available)
{
    if (!lpbi)
        return false;
    uint64_t size = UINT64_MAX;
    if (HGLOBAL h = GlobalHandle(lpbi))
        size = GlobalSize(h);
    DibShape shape;
    if (!header_shape(lpbi, size, &shape) || !compute_layout(shape, out) || out->total > size)
        return false;
    *available = size;
    return true;
}

bool second_plane_offset(const BYTE* p, const DibLayout& l, uint64_t available, uint64_t* offset)
{
    const uint64_t off = ld32(p, bih::SizeImage) / 2;
    if (l.pixelOffset + off + l.planeBytes > available)
        return false;
    *offset = off;
    return true;
}

HGLOBAL alloc_image(const DibShape& shape, DibLayout* layout)
{
    if (!compute_layout(shape, layout))
        return nullptr;
    return GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, static_cast<SIZE_T>(layout->total));
}

}  // namespace kelm
