// The steps that commands working on pixels share: load and check an image,
// widen bit-field layouts the colour functions do not read, save a result and
// report it.
#include <cstdio>
#include <string>
#include <vector>

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

int parse_resize_args(const char* verb, const Args& args, long maxSize, const char* example, ResizeArgs* r)
{
    ParsedArgs a;
    std::string error;
    if (!parse_args(args, {}, {"--rect"}, &a, &error))
        return usage_error(verb, error);
    if (a.positional.size() != 3)
        return usage_error(verb, "expected IN OUT WIDTHxHEIGHT");
    const std::string_view size = a.positional[2];
    long wh[2];
    if (!parse_numbers(size, 'x', 2, wh) || wh[0] < 1 || wh[1] < 1 || wh[0] > maxSize || wh[1] > maxSize)
        return usage_error(verb, "WIDTHxHEIGHT: two sizes from 1 to " + std::to_string(maxSize) + ", e.g. " +
                                     example + ": '" + std::string(size) + "'");
    const auto rect = a.value("--rect");
    if (rect && (!parse_numbers(*rect, ',', 4, r->rect) || r->rect[0] > r->rect[2] || r->rect[1] > r->rect[3]))
        return usage_error(verb, "--rect LEFT,TOP,RIGHT,BOTTOM: inclusive pixel edges from the top-left, "
                                 "LEFT <= RIGHT and TOP <= BOTTOM");
    r->in = a.positional[0];
    r->out = a.positional[1];
    r->width = wh[0];
    r->height = wh[1];
    r->hasRect = rect.has_value();
    return kExitOk;
}

int load_for_resize(const char* verb, const ResizeArgs& r, LoadedImage* img, RECT* rc)
{
    if (const int status = load_for_pixels(verb, r.in, img); status != kExitOk || !r.hasRect)
        return status;
    BITMAPINFOHEADER bi;
    DIBInfo(img->dib, &bi, sizeof bi);
    if (r.rect[0] < 0 || r.rect[1] < 0 || r.rect[2] >= bi.biWidth || r.rect[3] >= bi.biHeight) {
        DIBFree(img->dib);
        img->dib = nullptr;
        return failure(r.in, "--rect lies outside the " + std::to_string(bi.biWidth) + "x" +
                                 std::to_string(bi.biHeight) + " image");
    }
    // The rectangle's top edge, counted from the top, is its higher stored
    // row.
    rc->left = static_cast<LONG>(r.rect[0]);
    rc->right = static_cast<LONG>(r.rect[2]);
    rc->top = static_cast<LONG>(flip_row(bi, static_cast<int>(r.rect[1])));
    rc->bottom = static_cast<LONG>(flip_row(bi, static_cast<int>(r.rect[3])));
    return kExitOk;
}

}  // namespace kelm_cli
