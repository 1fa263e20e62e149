// `kelm scale-to-grey IN OUT WIDTHxHEIGHT [--rect LEFT,TOP,RIGHT,BOTTOM]`:
// box-averages an image, or a rectangle of it, to a new size with
// ScaleToGray. A black-and-white image becomes 8 bits with 65 grey levels
// (the way to view a bilevel scan smaller); any other image 24 bits.
#include <string>

#include "cli.h"

namespace kelm_cli {

int cmd_scale_to_grey(const Args& args)
{
    ParsedArgs a;
    std::string error;
    if (!parse_args(args, {}, {"--rect"}, &a, &error))
        return usage_error("scale-to-grey", error);
    if (a.positional.size() != 3)
        return usage_error("scale-to-grey", "expected IN OUT WIDTHxHEIGHT");
    const std::string_view size = a.positional[2];
    long wh[2];
    const bool sized = parse_numbers(size, 'x', 2, wh);
    if (!sized || wh[0] < 1 || wh[1] < 1 || wh[0] > 100000 || wh[1] > 100000)
        return usage_error("scale-to-grey", "WIDTHxHEIGHT: two sizes from 1 to 100000, e.g. 200x150: '" +
                                                std::string(size) + "'");
    const long w = wh[0], h = wh[1];
    long rect[4] = {0, 0, 0, 0};
    const auto rectArg = a.value("--rect");
    if (rectArg && (!parse_numbers(*rectArg, ',', 4, rect) || rect[0] > rect[2] || rect[1] > rect[3]))
        return usage_error("scale-to-grey", "--rect LEFT,TOP,RIGHT,BOTTOM: inclusive pixel edges from the top-left, "
                                            "LEFT <= RIGHT and TOP <= BOTTOM");
    const std::string in(a.positional[0]), out(a.positional[1]);
    LoadedImage img;
    if (int status = load_for_pixels("scale", in, &img); status != kExitOk)
        return status;
    BITMAPINFOHEADER src;
    DIBInfo(img.dib, &src, sizeof src);
    RECT rc;
    if (rectArg) {
        if (rect[0] < 0 || rect[1] < 0 || rect[2] >= src.biWidth || rect[3] >= src.biHeight) {
            DIBFree(img.dib);
            return failure(in, "--rect lies outside the " + std::to_string(src.biWidth) + "x" +
                                   std::to_string(src.biHeight) + " image");
        }
        // The library counts rows in memory order, bottom line first, so the
        // rectangle's top from the top-left is its higher stored row.
        rc.left = static_cast<LONG>(rect[0]);
        rc.right = static_cast<LONG>(rect[2]);
        rc.top = static_cast<LONG>(flip_row(src, static_cast<int>(rect[1])));
        rc.bottom = static_cast<LONG>(flip_row(src, static_cast<int>(rect[3])));
    }
    HGLOBAL scaled = ScaleToGray(img.dib, static_cast<int>(w), static_cast<int>(h), rectArg ? &rc : nullptr, 0);
    DIBFree(img.dib);
    if (!scaled)
        return failure(in, "cannot scale: out of memory or the result is too large");
    BITMAPINFOHEADER bi;
    DIBInfo(scaled, &bi, sizeof bi);
    return save_and_report(out, scaled,
                           std::to_string(w) + "x" + std::to_string(h) + ", " + std::to_string(bi.biBitCount) +
                               " bits",
                           "\"width\":" + std::to_string(w) + ",\"height\":" + std::to_string(h) +
                               ",\"bits\":" + std::to_string(bi.biBitCount));
}

}  // namespace kelm_cli
