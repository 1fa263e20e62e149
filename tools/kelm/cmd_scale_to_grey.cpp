// `kelm scale-to-grey IN OUT WIDTHxHEIGHT [--rect LEFT,TOP,RIGHT,BOTTOM]`:
// box-averages an image, or a rectangle of it, to a new size with
// ScaleToGray. A black-and-white image becomes 8 bits with 65 grey levels
// (the way to view a bilevel scan smaller); any other image 24 bits.
#include <string>

#include "cli.h"

namespace kelm_cli {

int cmd_scale_to_grey(const Args& args)
{
    ResizeArgs r;
    if (const int status = parse_resize_args("scale-to-grey", args, 100000, "200x150", &r); status != kExitOk)
        return status;
    LoadedImage img;
    RECT rc;
    if (const int status = load_for_resize("scale", r, &img, &rc); status != kExitOk)
        return status;
    HGLOBAL scaled =
        ScaleToGray(img.dib, static_cast<int>(r.width), static_cast<int>(r.height), r.hasRect ? &rc : nullptr, 0);
    DIBFree(img.dib);
    if (!scaled)
        return failure(r.in, "cannot scale: out of memory or the result is too large");
    BITMAPINFOHEADER bi;
    DIBInfo(scaled, &bi, sizeof bi);
    const std::string w = std::to_string(r.width), h = std::to_string(r.height), bits = std::to_string(bi.biBitCount);
    return save_and_report(r.out, scaled, w + "x" + h + ", " + bits + " bits",
                           "\"width\":" + w + ",\"height\":" + h + ",\"bits\":" + bits);
}

}  // namespace kelm_cli
