// `kelm pixel FILE X Y [COLOUR]`: reads one pixel, or writes it and saves the
// file again (safely, in the same format), saying when saving changes the
// file's form.
#include <climits>
#include <cstdio>
#include <string>

#include "cli.h"
#include "colour_arg.h"
#include "image_form.h"
#include "json.h"

namespace kelm_cli {

int cmd_pixel(const Args& args)
{
    ParsedArgs a;
    std::string error;
    if (!parse_args(args, {"--stored-rows"}, {}, &a, &error))
        return usage_error("pixel", error);
    const auto& pos = a.positional;
    if (pos.size() != 3 && pos.size() != 4)
        return usage_error("pixel", "expected FILE X Y [COLOUR]");
    const bool json = options().json, storedRows = a.flags.count("--stored-rows") > 0;
    auto px = parse_long(pos[1]), py = parse_long(pos[2]);
    if (!px || !py || *px < INT_MIN || *px > INT_MAX || *py < INT_MIN || *py > INT_MAX)
        return usage_error("pixel", "coordinates must be integers: '" + std::string(pos[1]) + "' '" +
                                        std::string(pos[2]) + "'");
    std::optional<DWORD> colour;
    if (pos.size() == 4 && !(colour = parse_colour(pos[3], &error)))
        return usage_error("pixel", error);

    const std::string path(pos[0]);
    LoadedImage img;
    if (!load_image(path, &img, &error))
        return failure(path, error);
    report_load(path, img);
    const std::string problem = pixel_form_problem(img.dib);
    LPTRDIB rw = problem.empty() ? RWOpenDIB(img.dib) : nullptr;
    if (!rw) {
        DIBFree(img.dib);
        return failure(path, "pixels not accessible: " + (problem.empty() ? "out of memory" : problem));
    }
    BITMAPINFOHEADER bi;
    DIBInfo(img.dib, &bi, sizeof bi);
    const int x = static_cast<int>(*px);
    const int row = storedRows ? static_cast<int>(*py) : flip_row(bi, static_cast<int>(*py));
    if (x < 0 || x >= bi.biWidth || *py < 0 || *py >= bi.biHeight) {
        RWClose(rw);
        DIBFree(img.dib);
        return failure(path, "pixel " + std::to_string(*px) + "," + std::to_string(*py) + " is outside the " +
                                 std::to_string(bi.biWidth) + "x" + std::to_string(bi.biHeight) + " image");
    }
    const PixelSample before = read_pixel(rw, bi, x, row);
    PixelSample after = before;
    if (colour) {
        RWSetPixel(rw, x, row, *colour);
        after = read_pixel(rw, bi, x, row);
    }
    RWClose(rw);
    if (colour) {
        std::vector<std::string> notes = form_changes(img.stored, img.dib, path);
        if (!save_image(path, img.dib, &notes, &error)) {
            DIBFree(img.dib);
            return failure(path, "cannot write: " + error + " (the file is unchanged)");
        }
        for (const std::string& n : notes)
            note(path, n);
    }
    DIBFree(img.dib);
    // The image itself goes to standard output for "-"; the report then
    // goes to standard error.
    FILE* report = colour && path == "-" ? stderr : stdout;
    if (json) {
        std::string out = "{\"file\":" + json_string(path) + ",\"pixel\":" + sample_json(before);
        if (colour)
            out += ",\"written\":" + sample_json(after);
        std::fprintf(report, "%s}\n", out.c_str());
    } else {
        std::fprintf(report, "%d,%d %s raw %s\n", x, static_cast<int>(*py), hex_colour(before.colour).c_str(),
                     raw_hex(before).c_str());
        if (colour)
            std::fprintf(report, "%d,%d %s raw %s (written to %s)\n", x, static_cast<int>(*py),
                         hex_colour(after.colour).c_str(), raw_hex(after).c_str(), path == "-" ? "standard output" : path.c_str());
    }
    return kExitOk;
}

}  // namespace kelm_cli
