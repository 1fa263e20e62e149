// `kelm convert IN OUT --bits N`: changes an image's depth with ConvertDIB.
// Reductions take the nearest entry of the new depth's default colour table
// without dithering (`kelm dither` does that). This file also holds the
// load, check and save steps the other colour commands share.
#include <cstdio>
#include <string>

#include "cli.h"
#include "image_form.h"
#include "json.h"

namespace kelm_cli {

int load_for_pixels(const char* verb, const std::string& in, LoadedImage* img)
{
    std::string error;
    if (!load_image(in, img, &error))
        return failure(in, error);
    report_load(in, *img);
    const std::string problem = pixel_form_problem(img->dib);
    if (!problem.empty()) {
        DIBFree(img->dib);
        img->dib = nullptr;
        return failure(in, std::string("cannot ") + verb + ": " + problem);
    }
    return kExitOk;
}

bool widen_unusual_masks(const std::string& in, HGLOBAL* dib)
{
    ImageFacts f;
    if (!image_facts(*dib, &f) || !f.haveMasks)
        return true;
    const unsigned bits = f.completed.biBitCount;
    const bool as555 = bits == 16 && f.masks[0] == 0x7C00 && f.masks[1] == 0x03E0 && f.masks[2] == 0x001F;
    const bool asBytes = bits == 32 && f.masks[0] == 0xFF0000 && f.masks[1] == 0xFF00 && f.masks[2] == 0xFF;
    if ((bits != 16 && bits != 32) || as555 || asBytes)
        return true;
    if (!ConvertDIB(dib, 24, 0))
        return false;
    note(in, "widened to 24 bits first: its bit-field masks are not the layout the colour functions read");
    return true;
}

int save_and_report(const std::string& out, HGLOBAL result, const std::string& text, const std::string& jsonFields)
{
    std::vector<std::string> notes;
    std::string error;
    const bool saved = save_image(out, result, &notes, &error);
    DIBFree(result);
    if (!saved)
        return failure(out == "-" ? "(standard output)" : out, "cannot write: " + error);
    for (const std::string& n : notes)
        note(out, n);
    FILE* report = out == "-" ? stderr : stdout;
    if (options().json)
        std::fprintf(report, "{\"file\":%s%s%s}\n", json_string(out).c_str(), jsonFields.empty() ? "" : ",",
                     jsonFields.c_str());
    else if (!options().quiet)
        std::fprintf(report, "%s: %s\n", out == "-" ? "(standard output)" : out.c_str(), text.c_str());
    return kExitOk;
}

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
    bool known = false;
    for (long d : kDepths)
        known = known || (bits && *bits == d);
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
