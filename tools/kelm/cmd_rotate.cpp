// `kelm rotate IN OUT ANGLE [--background COLOUR|none]`: turns an image by
// an angle in degrees (one decimal, counter-clockwise as displayed) with
// RotateDIB, which takes tenths of a degree.
#include <string>

#include "cli.h"
#include "colour_arg.h"
#include "progress.h"

namespace kelm_cli {

namespace {

// "45", "-12.5", "370.0" -> tenths of a degree; at most one decimal.
std::optional<long> parse_tenths(std::string_view s)
{
    const size_t dot = s.find('.');
    if (dot == std::string_view::npos) {
        auto v = parse_long(s);
        if (!v || *v < -214748364 || *v > 214748364)
            return std::nullopt;
        return *v * 10;
    }
    const std::string_view whole = s.substr(0, dot), frac = s.substr(dot + 1);
    if (frac.size() != 1 || frac[0] < '0' || frac[0] > '9' || whole.empty() || whole == "-" || whole == "+")
        return std::nullopt;
    auto v = parse_long(whole);
    if (!v || *v < -214748364 || *v > 214748364)
        return std::nullopt;
    const bool negative = whole[0] == '-';
    return *v * 10 + (negative ? -1 : 1) * (frac[0] - '0');
}

}  // namespace

int cmd_rotate(const Args& args)
{
    ParsedArgs a;
    std::string error;
    if (!parse_args(args, {}, {"--background"}, &a, &error))
        return usage_error("rotate", error);
    if (a.positional.size() != 3)
        return usage_error("rotate", "expected IN OUT ANGLE");
    const auto tenths = parse_tenths(a.positional[2]);
    if (!tenths)
        return usage_error("rotate", "ANGLE is degrees with at most one decimal, e.g. 90, -12.5: '" +
                                         std::string(a.positional[2]) + "'");
    DWORD background = KELM3_NO_BACKGROUND;
    if (auto bg = a.value("--background"); bg && *bg != "none") {
        auto c = parse_colour(*bg, &error);
        if (!c)
            return usage_error("rotate", "--background takes a colour or none: " + error);
        background = *c;
    }
    const std::string in(a.positional[0]), out(a.positional[1]);
    LoadedImage img;
    if (const int status = load_for_pixels("rotate", in, &img); status != kExitOk)
        return status;
    HGLOBAL turned;
    {
        Progress progress("rotate", 1);
        turned = RotateDIB(img.dib, static_cast<int>(*tenths), background);
        progress.update(1);
    }
    DIBFree(img.dib);
    if (!turned)
        return failure(in, "cannot rotate: out of memory or the result is too large");
    BITMAPINFOHEADER bi;
    DIBInfo(turned, &bi, sizeof bi);
    const std::string w = std::to_string(bi.biWidth), h = std::to_string(bi.biHeight);
    return save_and_report(out, turned,
                           w + "x" + h + ", turned by " + std::to_string(*tenths / 10) + "." +
                               std::to_string((*tenths < 0 ? -*tenths : *tenths) % 10) + " degrees",
                           "\"tenths\":" + std::to_string(*tenths) + ",\"width\":" + w + ",\"height\":" + h);
}

}  // namespace kelm_cli
