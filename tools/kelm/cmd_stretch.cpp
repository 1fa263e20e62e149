// `kelm stretch IN OUT WIDTHxHEIGHT [--rect LEFT,TOP,RIGHT,BOTTOM]`: scales
// an image, or a rectangle of it (inclusive edges, from the top-left
// corner), to a new size with StretchDIB.
#include <cstdio>
#include <string>

#include "cli.h"
#include "image_form.h"
#include "json.h"
#include "progress.h"

namespace kelm_cli {

int cmd_stretch(const Args& args)
{
    ParsedArgs a;
    std::string error;
    if (!parse_args(args, {}, {"--rect"}, &a, &error))
        return usage_error("stretch", error);
    if (a.positional.size() != 3)
        return usage_error("stretch", "expected IN OUT WIDTHxHEIGHT");
    const std::string_view size = a.positional[2];
    long wh[2];
    const bool sized = parse_numbers(size, 'x', 2, wh);
    if (!sized || wh[0] < 1 || wh[1] < 1 || wh[0] > 1000000 || wh[1] > 1000000)
        return usage_error("stretch", "WIDTHxHEIGHT: two sizes from 1 to 1000000, e.g. 800x600: '" +
                                          std::string(size) + "'");
    const long w = wh[0], h = wh[1];
    long rect[4] = {0, 0, 0, 0};
    const auto rectArg = a.value("--rect");
    if (rectArg && (!parse_numbers(*rectArg, ',', 4, rect) || rect[0] > rect[2] || rect[1] > rect[3]))
        return usage_error("stretch", "--rect LEFT,TOP,RIGHT,BOTTOM: inclusive pixel edges from the top-left, "
                                      "LEFT <= RIGHT and TOP <= BOTTOM");
    const std::string in(a.positional[0]), out(a.positional[1]);
    LoadedImage img;
    if (const int status = load_for_pixels("stretch", in, &img); status != kExitOk)
        return status;
    BITMAPINFOHEADER src;
    DIBInfo(img.dib, &src, sizeof src);
    RECT rc;
    if (rectArg) {
        // Rows from the top become stored rows (bottom-up): the rectangle's
        // bottom edge is its first stored row.
        if (rect[0] < 0 || rect[1] < 0 || rect[2] >= src.biWidth || rect[3] >= src.biHeight) {
            DIBFree(img.dib);
            return failure(in, "--rect lies outside the " + std::to_string(src.biWidth) + "x" +
                                   std::to_string(src.biHeight) + " image");
        }
        rc.left = static_cast<LONG>(rect[0]);
        rc.right = static_cast<LONG>(rect[2]);
        rc.top = static_cast<LONG>(flip_row(src, static_cast<int>(rect[1])));
        rc.bottom = static_cast<LONG>(flip_row(src, static_cast<int>(rect[3])));
    }
    HGLOBAL scaled;
    {
        Progress progress("stretch", 1);
        scaled = StretchDIB(img.dib, static_cast<LONG>(w), static_cast<LONG>(h), rectArg ? &rc : nullptr);
        progress.update(1);
    }
    DIBFree(img.dib);
    if (!scaled)
        return failure(in, "cannot stretch: out of memory or the result is too large");
    std::vector<std::string> notes;
    const bool saved = save_image(out, scaled, &notes, &error);
    DIBFree(scaled);
    if (!saved)
        return failure(display_name(out), "cannot write: " + error);
    for (const std::string& n : notes)
        note(out, n);
    FILE* report = out == "-" ? stderr : stdout;
    if (options().json)
        std::fprintf(report, "{\"file\":%s,\"width\":%ld,\"height\":%ld}\n", json_string(out).c_str(), w, h);
    else if (!options().quiet)
        std::fprintf(report, "%s: %ldx%ld\n", display_name(out).c_str(), w, h);
    return kExitOk;
}

}  // namespace kelm_cli
