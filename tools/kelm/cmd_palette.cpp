// `kelm palette IN OUT --colours N`: chooses N representative colours of an
// image with DIBSelectColors and saves them as the colour table of a 1 x 1
// image, the form `kelm dither --to 8 --palette` takes; the table is printed
// too.
#include <cstdio>
#include <cstring>
#include <string>

#include "cli.h"
#include "json.h"

namespace kelm_cli {

int cmd_palette(const Args& args)
{
    ParsedArgs a;
    std::string error;
    if (!parse_args(args, {}, {"--colours"}, &a, &error))
        return usage_error("palette", error);
    if (a.positional.size() != 2)
        return usage_error("palette", "expected IN OUT --colours N");
    const auto countArg = a.value("--colours");
    const auto count = countArg ? parse_long(*countArg) : std::nullopt;
    if (!count || *count < 1 || *count > 256)
        return usage_error("palette", "--colours takes a number from 1 to 256" +
                                          (countArg ? ": '" + std::string(*countArg) + "'" : std::string()));
    const std::string in(a.positional[0]), out(a.positional[1]);
    LoadedImage img;
    if (int status = load_for_pixels("choose colours for", in, &img); status != kExitOk)
        return status;
    HGLOBAL table = DIBSelectColors(img.dib, static_cast<int>(*count));
    DIBFree(img.dib);
    if (!table)
        return failure(in, "cannot choose colours: out of memory");
    // The table follows the result's 40-byte header; entries past the
    // colours found are black.
    std::vector<std::string> colours;
    if (const BYTE* p = static_cast<const BYTE*>(GlobalLock(table))) {
        for (long i = 0; i < *count; ++i) {
            RGBQUAD q;
            std::memcpy(&q, p + sizeof(BITMAPINFOHEADER) + 4 * i, sizeof q);
            colours.push_back(hex_colour(RGB(q.rgbRed, q.rgbGreen, q.rgbBlue)));
        }
        GlobalUnlock(table);
    }
    std::string text = std::to_string(*count) + (*count == 1 ? " colour" : " colours");
    for (size_t i = 0; i < colours.size(); ++i)
        text += "\n  " + std::to_string(i) + " " + colours[i];
    return save_and_report(out, table, text, "\"colours\":" + json_string_array(colours));
}

}  // namespace kelm_cli
