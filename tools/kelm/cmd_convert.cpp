// `kelm convert IN OUT --bits N`: changes an image's depth with ConvertDIB.
// Reductions take the nearest entry of the new depth's default colour table
// without dithering (`kelm dither` does that).
#include <algorithm>
#include <cstdio>
#include <iterator>
#include <string>

#include "cli.h"
#include "image_form.h"
#include "json.h"

namespace kelm_cli {

int cmd_convert(const Args& args)
{
    ParsedArgs a;
    std::string error;
    if (!parse_args(args, {}, {"--bits"}, &a, &error))
        return usage_error("convert", error);
    if (a.positional.size() != 2)
        return usage_error("convert", "expected IN OUT --bits N");
    const auto bitsArg = a.value("--bits");
    const auto bits = bitsArg ? parse_long(*bitsArg) : std::nullopt;
    static const long kDepths[] = {1, 4, 8, 16, 24, 32, 48, 64};
    const bool known = std::find(std::begin(kDepths), std::end(kDepths), bits.value_or(0)) != std::end(kDepths);
    if (!known)
        return usage_error("convert", "--bits takes 1, 4, 8, 16, 24, 32, 48 or 64 (48 and 64: two planes)" +
                                          (bitsArg ? ": '" + std::string(*bitsArg) + "'" : std::string()));
    const std::string in(a.positional[0]), out(a.positional[1]);
    LoadedImage img;
    if (int status = load_for_pixels("convert", in, &img); status != kExitOk)
        return status;
    // ConvertDIB frees the old image when it succeeds and leaves it valid
    // when it fails, so the handle variable always owns one image.
    HGLOBAL dib = img.dib;
    if (!ConvertDIB(&dib, static_cast<int>(*bits), 0)) {
        DIBFree(dib);
        return failure(in, "cannot convert to " + std::to_string(*bits) + " bits: out of memory or too large");
    }
    BITMAPINFOHEADER bi;
    DIBInfo(dib, &bi, sizeof bi);
    const std::string size = std::to_string(bi.biWidth) + "x" + std::to_string(bi.biHeight);
    return save_and_report(out, dib, size + ", " + std::to_string(*bits) + " bits",
                           "\"width\":" + std::to_string(bi.biWidth) + ",\"height\":" + std::to_string(bi.biHeight) +
                               ",\"bits\":" + std::to_string(*bits));
}

}  // namespace kelm_cli
