// `kelm barcode FILE...`: finds barcodes with DIBDetectBarCode and prints each
// distinct code once with its symbology, the first line it was read on and
// on how many lines it was read. The library's progress events drive the
// progress bar; its code events are collected here.
#include <cstdio>
#include <string>
#include <vector>

#include "cli.h"
#include "image_form.h"
#include "json.h"
#include "progress.h"

namespace kelm_cli {
namespace {

struct SymbologyWord {
    const char* word;
    DWORD bit;
};
constexpr SymbologyWord kWords[] = {
    {"ean13", DBC_EAN13}, {"ean8", DBC_EAN8},   {"ean5", DBC_EAN5_ADDON},
    {"ean2", DBC_EAN2_ADDON}, {"i2of5", DBC_I2OF5}, {"code39", DBC_CODE39},
};
constexpr const char* kAllowed = "ean13, ean8, ean5, ean2, i2of5, code39";

// "ean13+ean5" for the bits of a reported code.
std::string symbology_of(DWORD bits)
{
    std::string out;
    for (const SymbologyWord& w : kWords)
        if (bits & w.bit)
            out.append(out.empty() ? "" : "+").append(w.word);
    return out;
}

struct Found {
    std::string text;
    DWORD bits;
    bool column;   // first read on a column (else a row)
    int line;      // that column, or that row counted from the top
    unsigned lines;
};

struct ScanContext {
    const BITMAPINFOHEADER* bi;
    std::vector<Found> codes;
    Progress* bar;
    uint64_t rows;
    uint64_t done = 0;
};

// The callback's userData is a 32-bit value, too small for a pointer on
// 64-bit systems: it carries an index into this table of scans in progress.
std::vector<ScanContext*> g_contexts;

BOOL WINAPI on_event(int event, int position, LPCSTR text, DWORD flags, DWORD userData, DWORD /*reserved*/)
{
    ScanContext& c = *g_contexts.at(userData);
    if (event == DBC_EVENT_PROGRESS) {
        c.bar->update(++c.done);
        return TRUE;
    }
    const bool column = c.done >= c.rows;
    for (Found& f : c.codes)
        if (f.text == text && f.bits == flags) {
            ++f.lines;
            return TRUE;
        }
    c.codes.push_back({text, flags, column, column ? position : flip_row(*c.bi, position), 1});
    return TRUE;
}

std::string found_json(const Found& f, bool counted)
{
    std::string out = "{\"text\":" + json_string(f.text) + ",\"symbology\":" + json_string(symbology_of(f.bits)) +
                      ",\"bits\":" + std::to_string(f.bits) + ",\"first\":{\"" + (f.column ? "column" : "row") +
                      "\":" + std::to_string(f.line) + "}";
    if (counted)
        out += ",\"lines\":" + std::to_string(f.lines);
    return out + "}";
}

// Scans one file; false when it cannot be read (the error is printed, or
// returned as a JSON object).
bool barcode_one(const std::string& path, DWORD flags, bool many, std::string* jsonOut, bool* found)
{
    const bool json = options().json;
    LoadedImage img;
    std::string reason;
    auto fail = [&](const std::string& why) {
        if (json)
            *jsonOut = json_error(why, &path);
        else
            std::fprintf(stderr, "kelm: %s: %s\n", display_name(path).c_str(), why.c_str());
        return false;
    };
    if (!load_image(path, &img, &reason))
        return fail(reason);
    report_load(path, img);
    const std::string problem = pixel_form_problem(img.dib);
    BITMAPINFOHEADER bi{};
    if (!problem.empty() || !DIBInfo(img.dib, &bi, sizeof bi)) {
        DIBFree(img.dib);
        return fail(problem.empty() ? "the image's header cannot be read" : problem);
    }
    const uint64_t height = bi.biHeight < 0 ? -static_cast<int64_t>(bi.biHeight) : bi.biHeight;
    const uint64_t rows = (flags & DBC_ROWS) ? height : 0;
    const uint64_t columns = (flags & DBC_COLUMNS) ? static_cast<uint64_t>(bi.biWidth) : 0;
    Progress bar("barcode " + display_name(path), rows + columns);
    ScanContext context{&bi, {}, &bar, rows};
    g_contexts.push_back(&context);
    const DWORD index = static_cast<DWORD>(g_contexts.size() - 1);
    const BOOL any = DIBDetectBarCode(img.dib, on_event, index, nullptr, 0, flags, 0);
    g_contexts.pop_back();
    bar.finish();
    DIBFree(img.dib);
    *found = any != 0;

    const bool counted = !(flags & DBC_NEW_ONLY);
    if (json) {
        std::string list;
        for (const Found& f : context.codes)
            list.append(list.empty() ? "" : ",").append(found_json(f, counted));
        *jsonOut = "{\"file\":" + json_string(path) + ",\"found\":" + (any ? "true" : "false") + ",\"codes\":[" +
                   list + "]}";
        return true;
    }
    const std::string prefix = many ? display_name(path) + ": " : "";
    if (context.codes.empty() && !options().quiet)
        std::printf("%sno barcode found\n", prefix.c_str());
    for (const Found& f : context.codes) {
        std::printf("%s%s  %s  (%s %d", prefix.c_str(), f.text.empty() ? "(empty)" : f.text.c_str(),
                    symbology_of(f.bits).c_str(), f.column ? "column" : "row", f.line);
        if (counted)
            std::printf(", %u line%s", f.lines, f.lines == 1 ? "" : "s");
        std::printf(")\n");
    }
    return true;
}

}  // namespace

int cmd_barcode(const Args& args)
{
    ParsedArgs a;
    std::string error;
    if (!parse_args(args, {"--rows", "--columns", "--new-only"}, {"--only"}, &a, &error))
        return usage_error("barcode", error);
    if (a.positional.empty())
        return usage_error("barcode", "missing FILE");
    DWORD flags = 0;
    if (auto only = a.value("--only")) {
        std::string_view rest = *only;
        while (true) {
            const size_t comma = rest.find(',');
            const std::string_view word = rest.substr(0, comma);
            bool known = false;
            for (const SymbologyWord& w : kWords)
                if (word == w.word) {
                    flags |= w.bit;
                    known = true;
                }
            if (!known)
                return usage_error("barcode", "unknown symbology '" + std::string(word) + "' (allowed: " + kAllowed +
                                                  ")");
            if (comma == std::string_view::npos)
                break;
            rest = rest.substr(comma + 1);
        }
    } else {
        for (const SymbologyWord& w : kWords)
            flags |= w.bit;
    }
    const bool rows = a.flags.count("--rows") > 0, columns = a.flags.count("--columns") > 0;
    flags |= (rows || !columns ? DBC_ROWS : 0) | (columns || !rows ? DBC_COLUMNS : 0);
    if (a.flags.count("--new-only"))
        flags |= DBC_NEW_ONLY;

    const bool json = options().json, many = a.positional.size() > 1;
    bool allOk = true, anyFound = false;
    std::vector<std::string> objects;
    for (std::string_view file : a.positional) {
        std::string obj;
        bool found = false;
        allOk = barcode_one(std::string(file), flags, many, &obj, &found) && allOk;
        anyFound = anyFound || found;
        if (json)
            objects.push_back(obj);
    }
    if (json) {
        std::string out = many ? "[" : "";
        for (size_t i = 0; i < objects.size(); ++i)
            out.append(i ? "," : "").append(objects[i]);
        std::printf("%s%s\n", out.c_str(), many ? "]" : "");
    }
    return allOk && anyFound ? kExitOk : kExitFailure;
}

}  // namespace kelm_cli
