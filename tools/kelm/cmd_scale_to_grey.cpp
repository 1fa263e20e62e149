// `kelm scale-to-grey IN OUT WIDTHxHEIGHT [--rect LEFT,TOP,RIGHT,BOTTOM]`:
// box-averages an image, or a rectangle of it, to a new size with
// ScaleToGray. A black-and-white image becomes 8 bits with 65 grey levels
// (the way to view a bilevel scan smaller); any other image 24 bits.
#include <string>

#include "cli.h"

namespace kelm_cli {

namespace {

bool parse_rect(std::string_view s, long out[4])
{
    for (int i = 0; i < 4; ++i) {
        const size_t comma = i < 3 ? s.find(',') : std::string_view::npos;
        if (i < 3 && comma == std::string_view::npos)
            return false;
        const auto v = parse_long(s.substr(0, comma));
        if (!v || *v < -2147483647L || *v > 2147483647L)
            return false;
        out[i] = *v;
        s = comma == std::string_view::npos ? std::string_view() : s.substr(comma + 1);
    }
    return true;
}

}  // namespace

int cmd_scale_to_grey(const Args& args)
{
    ParsedArgs a;
    std::string error;
    if (!parse_args(args, {}, {"--rect"}, &a, &error))
        return usage_error("scale-to-grey", error);
    if (a.positional.size() != 3)
        return usage_error("scale-to-grey", "expected IN OUT WIDTHxHEIGHT");
    const std::string_view size = a.positional[2];
    const size_t x = size.find('x');
    const auto w = x == std::string_view::npos ? std::nullopt : parse_long(size.substr(0, x));
    const auto h = x == std::string_view::npos ? std::nullopt : parse_long(size.substr(x + 1));
    if (!w || !h || *w < 1 || *h < 1 || *w > 100000 || *h > 100000)
        return usage_error("scale-to-grey", "WIDTHxHEIGHT: two sizes from 1 to 100000, e.g. 200x150: '" +
                                                std::string(size) + "'");
    long rect[4] = {0, 0, 0, 0};
    const auto rectArg = a.value("--rect");
    if (rectArg && (!parse_rect(*rectArg, rect) || rect[0] > rect[2] || rect[1] > rect[3]))
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
    HGLOBAL scaled = ScaleToGray(img.dib, static_cast<int>(*w), static_cast<int>(*h), rectArg ? &rc : nullptr, 0);
    DIBFree(img.dib);
    if (!scaled)
        return failure(in, "cannot scale: out of memory or the result is too large");
    BITMAPINFOHEADER bi;
    DIBInfo(scaled, &bi, sizeof bi);
    return save_and_report(out, scaled,
                           std::to_string(*w) + "x" + std::to_string(*h) + ", " + std::to_string(bi.biBitCount) +
                               " bits",
                           "\"width\":" + std::to_string(*w) + ",\"height\":" + std::to_string(*h) +
                               ",\"bits\":" + std::to_string(bi.biBitCount));
}

}  // namespace kelm_cli
