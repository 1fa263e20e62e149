// `kelm dither IN OUT --to 1|4|8 [--levels N] [--popular N] [--palette FILE]
// [--grey-map FILE]`: error diffusion to a black/white, 16-colour or 8-bit
// palette image with DitherTo1, DitherTo4 and DitherTo8. The dithers take a
// header pointer, so the image is locked around the call.
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "cli.h"
#include "json.h"

namespace kelm_cli {

namespace {

// A grey map file: 256 integers 0..255, separated by white space; entry g
// replaces the grey value g before the black/white decision.
bool read_grey_map(const std::string& path, BYTE map[256], std::string* reason)
{
    std::ifstream f(path);
    if (!f) {
        *reason = "cannot open the grey map";
        return false;
    }
    std::string word;
    int n = 0;
    while (f >> word) {
        const auto v = parse_long(word);
        if (!v || *v < 0 || *v > 255) {
            *reason = "grey map entry " + std::to_string(n) + " is not a number from 0 to 255: '" + word + "'";
            return false;
        }
        if (n == 256) {
            *reason = "the grey map has more than 256 entries";
            return false;
        }
        map[n++] = static_cast<BYTE>(*v);
    }
    if (n != 256) {
        *reason = "the grey map has " + std::to_string(n) + " entries, not 256";
        return false;
    }
    return true;
}

// The colour table of an image file as the 8-bit 1 x 1 palette image
// DitherTo8 reads: all 256 entries behind a 40-byte header, biClrImportant
// the number in use. Built afresh, since the file may hold fewer entries or
// another header. Null with the reason when the image has no colour table.
HGLOBAL palette_image(const std::string& path, std::string* reason)
{
    LoadedImage img;
    if (!load_image(path, &img, reason))
        return nullptr;
    report_load(path, img);
    ImageFacts f;
    const bool indexed = image_facts(img.dib, &f) && f.completed.biBitCount <= 8 && f.paletteBytes >= 4 &&
                         f.completed.biCompression != BI_BITFIELDS;
    if (!indexed) {
        DIBFree(img.dib);
        *reason = "the palette image has no colour table (an image of 8 bits or less, e.g. from kelm palette)";
        return nullptr;
    }
    const uint64_t entries = f.paletteBytes / 4 > 256 ? 256 : f.paletteBytes / 4;
    HGLOBAL pal = CreateDIB(1, 1, 8, 0);
    BYTE* p = pal ? static_cast<BYTE*>(GlobalLock(pal)) : nullptr;
    const BYTE* src = static_cast<const BYTE*>(GlobalLock(img.dib));
    if (p && src) {
        std::memset(p + 40, 0, 1024);
        std::memcpy(p + 40, src + f.completed.biSize, entries * 4);
        const DWORD important = static_cast<DWORD>(entries);
        std::memcpy(p + offsetof(BITMAPINFOHEADER, biClrImportant), &important, 4);
    }
    if (src)
        GlobalUnlock(img.dib);
    DIBFree(img.dib);
    if (!p) {
        if (pal)
            DIBFree(pal);
        *reason = "out of memory";
        return nullptr;
    }
    GlobalUnlock(pal);
    return pal;
}

// The entries DitherTo8 would put in its table for a cube of `levels` and
// `popular` frequent colours (the 17 greys and white after a plain cube, the
// standard 16 colours after frequent ones when they fit).
long table_entries(long levels, long popular)
{
    const long cube = levels >= 2 ? levels * levels * levels : 0;
    if (popular == 0)
        return cube + 17;
    return cube + popular + (cube + popular <= 240 ? 16 : 0);
}

}  // namespace

int cmd_dither(const Args& args)
{
    ParsedArgs a;
    std::string error;
    if (!parse_args(args, {}, {"--to", "--levels", "--popular", "--palette", "--grey-map"}, &a, &error))
        return usage_error("dither", error);
    if (a.positional.size() != 2)
        return usage_error("dither", "expected IN OUT --to 1|4|8");
    const auto toArg = a.value("--to");
    const auto to = toArg ? parse_long(*toArg) : std::nullopt;
    if (!to || (*to != 1 && *to != 4 && *to != 8))
        return usage_error("dither", "--to takes 1 (black and white), 4 (16 colours) or 8 (a 256-entry palette)" +
                                         (toArg ? ": '" + std::string(*toArg) + "'" : std::string()));
    const auto levelsArg = a.value("--levels"), popularArg = a.value("--popular");
    const auto paletteArg = a.value("--palette"), greyArg = a.value("--grey-map");
    if (*to != 8 && (levelsArg || popularArg || paletteArg))
        return usage_error("dither", "--levels, --popular and --palette go with --to 8");
    if (*to != 1 && greyArg)
        return usage_error("dither", "--grey-map goes with --to 1");
    long levels = 0, popular = 0;
    if (*to == 8) {
        if (paletteArg && (levelsArg || popularArg))
            return usage_error("dither", "--palette replaces --levels and --popular: give one or the others");
        if (levelsArg) {
            const auto v = parse_long(*levelsArg);
            if (!v || *v < 0 || *v == 1 || *v > 6)
                return usage_error("dither", "--levels takes 0 (no cube) or 2 to 6 levels per channel: '" +
                                                 std::string(*levelsArg) + "'");
            levels = *v;
        }
        if (popularArg) {
            const auto v = parse_long(*popularArg);
            if (!v || *v < 0 || *v > 255)
                return usage_error("dither", "--popular takes 0 to 255 colours: '" + std::string(*popularArg) + "'");
            popular = *v;
        }
        if (!paletteArg && !levelsArg && !popularArg)
            levels = 6;  // the 6 x 6 x 6 cube, greys and white of the default table
        if (!paletteArg && levels == 0 && popular == 0)
            return usage_error("dither", "no palette: give --levels 2 to 6, --popular 1 to 255 or --palette FILE");
        if (!paletteArg && table_entries(levels, popular) > 256)
            return usage_error("dither", "--levels " + std::to_string(levels) + " with --popular " +
                                             std::to_string(popular) + " needs " +
                                             std::to_string(table_entries(levels, popular)) +
                                             " table entries; at most 256 fit (cube of levels^3 plus --popular)");
    }
    BYTE greyMap[256];
    if (greyArg && !read_grey_map(std::string(*greyArg), greyMap, &error))
        return failure(std::string(*greyArg), error);
    const std::string in(a.positional[0]), out(a.positional[1]);
    HGLOBAL palette = nullptr;
    if (paletteArg && !(palette = palette_image(std::string(*paletteArg), &error)))
        return failure(std::string(*paletteArg), error);
    LoadedImage img;
    if (int status = load_for_pixels("dither", in, &img); status != kExitOk) {
        if (palette)
            DIBFree(palette);
        return status;
    }
    // Sources each dither reads directly: one plane, bit fields in the layout
    // the dithers read, the depths they take and, at 4 bits, a 40-byte
    // header. Anything else goes through 24 bits first.
    bool ok = widen_unusual_masks(in, &img.dib);
    ImageFacts f;
    ok = ok && image_facts(img.dib, &f);
    const unsigned bits = f.completed.biBitCount;
    const bool depthOk = *to == 1 ? bits >= 4 : *to == 4 ? bits >= 8 : bits >= 16;
    if (ok && (!depthOk || f.completed.biPlanes != 1 || (*to == 4 && f.completed.biSize != 40))) {
        ok = ConvertDIB(&img.dib, 24, 0) != 0;
        if (ok)
            note(in, std::string("widened to 24 bits first: the ") + std::to_string(*to) + "-bit dither reads " +
                         (*to == 1 ? "4 to 32 bits" : *to == 4 ? "8 to 32 bits with a 40-byte header" : "16 to 32 bits") +
                         " in one plane");
    }
    HGLOBAL result = nullptr;
    if (ok) {
        const void* header = GlobalLock(img.dib);
        const void* palHeader = palette ? GlobalLock(palette) : nullptr;
        if (header && (!palette || palHeader)) {
            if (*to == 1)
                result = DitherTo1(header, greyArg ? greyMap : nullptr);
            else if (*to == 4)
                result = DitherTo4(header);
            else
                result = DitherTo8(header, static_cast<int>(levels), static_cast<int>(popular), palHeader);
        }
        if (palHeader)
            GlobalUnlock(palette);
        if (header)
            GlobalUnlock(img.dib);
    }
    DIBFree(img.dib);
    if (palette)
        DIBFree(palette);
    if (!result)
        return failure(in, "cannot dither: out of memory or too large");
    BITMAPINFOHEADER bi;
    DIBInfo(result, &bi, sizeof bi);
    const long entries = *to == 1 ? 2 : *to == 4 ? 16 : static_cast<long>(bi.biClrImportant);
    return save_and_report(out, result,
                           std::to_string(bi.biWidth) + "x" + std::to_string(bi.biHeight) + ", dithered to " +
                               std::to_string(*to) + (*to == 1 ? " bit (" : " bits (") + std::to_string(entries) + " colours)",
                           "\"width\":" + std::to_string(bi.biWidth) + ",\"height\":" + std::to_string(bi.biHeight) +
                               ",\"bits\":" + std::to_string(*to) + ",\"colours\":" + std::to_string(entries));
}

}  // namespace kelm_cli
