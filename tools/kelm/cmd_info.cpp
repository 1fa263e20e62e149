// `kelm info FILE...`: what a file holds as stored, and the image the library
// makes of it. One full report per file, or one line each with --brief.
#include <cstdio>
#include <string>

#include "cli.h"
#include "image_form.h"
#include "json.h"

namespace kelm_cli {
namespace {

const char* png_colour_type(unsigned t)
{
    switch (t) {
    case 0: return "grey";
    case 2: return "RGB";
    case 3: return "palette";
    case 4: return "grey+alpha";
    case 6: return "RGBA";
    default: return "?";
    }
}

std::string stored_json(const StoredFile& s)
{
    if (s.format == FileFormat::Png)
        return "{\"width\":" + std::to_string(s.bi.biWidth) + ",\"height\":" + std::to_string(s.bi.biHeight) +
               ",\"bitDepth\":" + std::to_string(s.pngBitDepth) + ",\"colourType\":" +
               json_string(png_colour_type(s.pngColourType)) + ",\"interlaced\":" +
               (s.pngInterlaced ? "true" : "false") + "}";
    std::string out = "{\"fileHeader\":";
    if (s.fileHeader)
        out += "{\"bfSize\":" + std::to_string(s.bfSize) + ",\"bfOffBits\":" + std::to_string(s.bfOffBits) + "}";
    else
        out += "null";
    out += ",\"headerSize\":" + std::to_string(s.headerSize) + ",\"headerKind\":" + json_string(s.headerKind);
    out += ",\"header\":" + header_json(s.bi, s.core);
    out += ",\"masks\":" + (s.haveMasks ? masks_json(s.masks, s.headerSize >= 56) : std::string("null"));
    return out + "}";
}

std::string brief_text(const std::string& path, const StoredFile& s, const BITMAPINFOHEADER& bi)
{
    std::string out = display_name(path) + ": " + format_name(s.format) + " " + std::to_string(bi.biWidth) + "x" +
                      std::to_string(bi.biHeight < 0 ? -static_cast<long>(bi.biHeight) : bi.biHeight) + ", ";
    if (s.format == FileFormat::Png) {
        out += std::to_string(s.pngBitDepth) + "-bit " + png_colour_type(s.pngColourType) + ", loaded as ";
    }
    out += std::to_string(bi.biBitCount) + "-bit" + (bi.biPlanes == 2 ? " in two planes" : "");
    if (s.format != FileFormat::Png) {
        out += ", " + std::string(s.bi.biCompression == 0 ? "uncompressed"
                                  : s.os2                ? (s.bi.biCompression == 1 ? "RLE8" : "RLE4")
                                                         : compression_name(s.bi.biCompression));
        if (s.bi.biHeight < 0)
            out += ", top-down";
        out += ", " + std::to_string(s.headerSize) + "-byte " + s.headerKind + " header";
    }
    return out;
}

// One file's report; false when it cannot be loaded (the error is printed,
// as a JSON object inside the list when `json`).
bool info_one(const std::string& path, bool json, bool brief, std::string* jsonOut)
{
    LoadedImage img;
    std::string reason;
    if (!load_image(path, &img, &reason)) {
        if (json)
            *jsonOut = json_error(reason, &path);
        else
            std::fprintf(stderr, "kelm: %s: %s\n", display_name(path).c_str(), reason.c_str());
        return false;
    }
    report_load(path, img);
    ImageFacts facts;
    if (!image_facts(img.dib, &facts)) {
        DIBFree(img.dib);
        reason = "loaded, but the image's header cannot be read";
        if (json)
            *jsonOut = json_error(reason, &path);
        else
            std::fprintf(stderr, "kelm: %s: %s\n", display_name(path).c_str(), reason.c_str());
        return false;
    }
    const StoredFile& s = img.stored;
    if (brief) {
        if (json)
            *jsonOut = "{\"file\":" + json_string(path) + ",\"format\":" + json_string(format_name(s.format)) +
                       ",\"width\":" + std::to_string(facts.completed.biWidth) + ",\"height\":" +
                       std::to_string(facts.completed.biHeight) + ",\"bits\":" +
                       std::to_string(facts.completed.biBitCount) + ",\"planes\":" +
                       std::to_string(facts.completed.biPlanes) + ",\"summary\":" +
                       json_string(brief_text(path, s, s.format == FileFormat::Png ? facts.completed : s.bi)) + "}";
        else
            std::printf("%s\n", brief_text(path, s, s.format == FileFormat::Png ? facts.completed : s.bi).c_str());
        DIBFree(img.dib);
        return true;
    }
    bool opened = false;
    std::vector<PixelSample> samples = sample_pixels(img.dib, &opened);
    const std::string problem = opened ? "" : pixel_form_problem(img.dib);
    if (json) {
        *jsonOut = "{\"file\":" + json_string(path) + ",\"format\":" + json_string(format_name(s.format)) +
                   ",\"fileSize\":" + std::to_string(s.fileSize) + ",\"stored\":" + stored_json(s) +
                   ",\"completed\":" + header_json(facts.completed, false) + "," + facts_json(facts) +
                   ",\"pixels\":" + (opened ? samples_json(samples) : "null") +
                   ",\"notes\":" + json_string_array(img.notes) + ",\"warnings\":" + json_string_array(img.warnings) +
                   "}";
    } else {
        std::printf("file              %s (%llu bytes, %s)\n", display_name(path).c_str(),
                    static_cast<unsigned long long>(s.fileSize), format_name(s.format));
        if (s.format == FileFormat::Png) {
            std::printf("PNG               %ux%d, %u-bit %s%s\n", static_cast<unsigned>(s.bi.biWidth), s.bi.biHeight,
                        s.pngBitDepth, png_colour_type(s.pngColourType), s.pngInterlaced ? ", interlaced" : "");
        } else {
            if (s.fileHeader)
                std::printf("file header       bfSize %u, bfOffBits %u\n", s.bfSize, s.bfOffBits);
            else
                std::printf("file header       none (a bare packed DIB)\n");
            const std::string title = "header as stored (" + std::to_string(s.headerSize) + "-byte " + s.headerKind +
                                      " header)";
            print_header_text(title.c_str(), s.bi, s.core);
            if (s.haveMasks)
                print_masks_text(s.masks, s.headerSize >= 56);
        }
        print_header_text("header as loaded and completed", facts.completed, false);
        print_facts_text(facts);
        print_samples_text(samples, opened);
        if (!opened)
            std::printf("                  (%s)\n", problem.c_str());
    }
    DIBFree(img.dib);
    return true;
}

}  // namespace

int cmd_info(const Args& args)
{
    ParsedArgs a;
    std::string error;
    if (!parse_args(args, {"--brief"}, {}, &a, &error))
        return usage_error("info", error);
    if (a.positional.empty())
        return usage_error("info", "missing FILE");
    const bool json = options().json, brief = a.flags.count("--brief") > 0;
    const bool many = a.positional.size() > 1;
    bool allOk = true;
    std::vector<std::string> objects;
    for (size_t i = 0; i < a.positional.size(); ++i) {
        if (many && !brief && !json && i > 0)
            std::printf("\n");
        std::string obj;
        allOk = info_one(std::string(a.positional[i]), json, brief, &obj) && allOk;
        if (json)
            objects.push_back(obj);
    }
    if (json) {
        // One object for one file, a list of objects for several.
        std::string out = many ? "[" : "";
        for (size_t i = 0; i < objects.size(); ++i) {
            if (i)
                out += ",";
            out += objects[i];
        }
        std::printf("%s%s\n", out.c_str(), many ? "]" : "");
    }
    return allOk ? kExitOk : kExitFailure;
}

}  // namespace kelm_cli
