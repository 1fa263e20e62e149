// `kelm blend DEST SRC OUT [--at X,Y] [--size WxH] [--opacity 0-255]`:
// blends SRC over a rectangle of DEST (from the top-left corner) with
// DIBAlphaBlend and saves the result as OUT. A 32-bit SRC with an alpha
// channel is blended by its own alpha too; what cannot be blended (palette
// images, a rectangle outside DEST) is copied opaquely, as the library does.
#include <cstdio>
#include <string>

#include "cli.h"
#include "image_form.h"
#include "json.h"
#include "progress.h"

namespace kelm_cli {

namespace {

bool parse_xy(std::string_view s, char sep, long* a, long* b)
{
    long v[2];
    if (!parse_numbers(s, sep, 2, v))
        return false;
    *a = v[0];
    *b = v[1];
    return true;
}

}  // namespace

int cmd_blend(const Args& args)
{
    ParsedArgs a;
    std::string error;
    if (!parse_args(args, {}, {"--at", "--size", "--opacity"}, &a, &error))
        return usage_error("blend", error);
    if (a.positional.size() != 3)
        return usage_error("blend", "expected DEST SRC OUT");
    long x = 0, y = 0, w = -1, h = -1, opacity = 255;
    if (auto at = a.value("--at"); at && !parse_xy(*at, ',', &x, &y))
        return usage_error("blend", "--at X,Y: two integers from the top-left corner");
    if (auto sz = a.value("--size"); sz && (!parse_xy(*sz, 'x', &w, &h) || w < 1 || h < 1))
        return usage_error("blend", "--size WxH: two sizes of at least 1");
    if (auto op = a.value("--opacity")) {
        auto v = parse_long(*op);
        if (!v || *v < 0 || *v > 255)
            return usage_error("blend", "--opacity takes 0 (transparent) to 255 (opaque)");
        opacity = *v;
    }
    const std::string destPath(a.positional[0]), srcPath(a.positional[1]), out(a.positional[2]);
    if (destPath == "-" && srcPath == "-")
        return usage_error("blend", "only one of DEST and SRC can be standard input");
    LoadedImage dest, src;
    if (!load_image(destPath, &dest, &error))
        return failure(destPath, error);
    report_load(destPath, dest);
    if (!load_image(srcPath, &src, &error)) {
        DIBFree(dest.dib);
        return failure(srcPath, error);
    }
    report_load(srcPath, src);
    for (const auto* img : {&dest, &src}) {
        const std::string problem = pixel_form_problem(img->dib);
        if (!problem.empty()) {
            const std::string& path = img == &dest ? destPath : srcPath;
            DIBFree(dest.dib);
            DIBFree(src.dib);
            return failure(path, "cannot blend: " + problem);
        }
    }
    BITMAPINFOHEADER db, sb;
    DIBInfo(dest.dib, &db, sizeof db);
    DIBInfo(src.dib, &sb, sizeof sb);
    if (w < 0) {
        w = sb.biWidth;
        h = sb.biHeight;
    }
    // From the top-left to stored rows: the rectangle's bottom line is its
    // first stored row.
    const long yStored = static_cast<long>(db.biHeight) - y - h;
    int result;
    {
        Progress progress("blend", 1);
        result = DIBAlphaBlend(dest.dib, static_cast<int>(x), static_cast<int>(yStored), static_cast<int>(w),
                               static_cast<int>(h), src.dib, 0, 0, sb.biWidth, sb.biHeight, static_cast<int>(opacity));
        progress.update(1);
    }
    DIBFree(src.dib);
    if (!result) {
        DIBFree(dest.dib);
        return failure(srcPath, "cannot blend into " + display_name(destPath));
    }
    std::vector<std::string> notes;
    const bool saved = save_image(out, dest.dib, &notes, &error);
    DIBFree(dest.dib);
    if (!saved)
        return failure(display_name(out), "cannot write: " + error);
    for (const std::string& n : notes)
        note(out, n);
    FILE* report = out == "-" ? stderr : stdout;
    if (options().json)
        std::fprintf(report, "{\"file\":%s,\"x\":%ld,\"y\":%ld,\"width\":%ld,\"height\":%ld,\"opacity\":%ld}\n",
                     json_string(out).c_str(), x, y, w, h, opacity);
    else if (!options().quiet)
        std::fprintf(report, "%s: %ldx%ld at %ld,%ld, opacity %ld\n", display_name(out).c_str(), w, h, x, y, opacity);
    return kExitOk;
}

}  // namespace kelm_cli
