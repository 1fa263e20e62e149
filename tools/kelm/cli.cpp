// Argument parsing, messages and small formatting helpers of the kelm tool.
#include "cli.h"

#include <charconv>
#include <cstdio>
#include <cstring>

#include "json.h"

namespace kelm_cli {

Options& options()
{
    static Options o;
    return o;
}

std::optional<std::string_view> ParsedArgs::value(std::string_view name) const
{
    for (auto& [k, v] : values)
        if (k == name)
            return v;
    return std::nullopt;
}

bool parse_args(const Args& args, std::initializer_list<std::string_view> flags,
                std::initializer_list<std::string_view> valued, ParsedArgs* out, std::string* error)
{
    bool optionsEnded = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string_view a = args[i];
        const bool looksLikeOption = a.size() > 1 && a[0] == '-' && !(a[1] >= '0' && a[1] <= '9');
        if (optionsEnded || !looksLikeOption) {
            out->positional.push_back(a);
            continue;
        }
        if (a == "--") {
            optionsEnded = true;
            continue;
        }
        if (a == "--quiet" || a == "--json") {  // understood by every command
            out->flags.insert(a);
            continue;
        }
        bool known = false;
        for (std::string_view f : flags)
            if (a == f) {
                out->flags.insert(a);
                known = true;
            }
        for (std::string_view v : valued)
            if (a == v) {
                if (i + 1 >= args.size()) {
                    *error = std::string(a) + " needs a value";
                    return false;
                }
                out->values.emplace_back(a, args[++i]);
                known = true;
            }
        if (!known) {
            *error = "unknown option '" + std::string(a) + "'";
            return false;
        }
    }
    return true;
}

int usage_error(std::string_view cmd, const std::string& message)
{
    const std::string full = "kelm " + std::string(cmd) + ": " + message;
    if (options().json)
        std::printf("%s\n", json_error(full, nullptr).c_str());
    else
        std::fprintf(stderr, "%s\nTry 'kelm %.*s --help'.\n", full.c_str(), static_cast<int>(cmd.size()), cmd.data());
    return kExitUsage;
}

int failure(const std::string& file, const std::string& reason)
{
    if (options().json)
        std::printf("%s\n", json_error(reason, &file).c_str());
    else
        std::fprintf(stderr, "kelm: %s: %s\n", display_name(file).c_str(), reason.c_str());
    return kExitFailure;
}

int failure(const std::string& reason)
{
    if (options().json)
        std::printf("%s\n", json_error(reason, nullptr).c_str());
    else
        std::fprintf(stderr, "kelm: %s\n", reason.c_str());
    return kExitFailure;
}

void note(const std::string& file, const std::string& text)
{
    if (!options().quiet)
        std::fprintf(stderr, "kelm: %s: note: %s\n", display_name(file).c_str(), text.c_str());
}

void warning(const std::string& file, const std::string& text)
{
    std::fprintf(stderr, "kelm: %s: warning: %s\n", display_name(file).c_str(), text.c_str());
}

void report_load(const std::string& file, const LoadedImage& img)
{
    for (const std::string& n : img.notes)
        note(file, n);
    for (const std::string& w : img.warnings)
        warning(file, w);
}

std::string display_name(const std::string& path)
{
    return path == "-" ? "(standard input)" : path;
}

std::optional<long> parse_long(std::string_view s)
{
    long v = 0;
    const char* end = s.data() + s.size();
    auto [p, ec] = std::from_chars(s.data(), end, v);
    if (ec != std::errc() || p != end || s.empty())
        return std::nullopt;
    return v;
}

bool parse_numbers(std::string_view s, char sep, size_t n, long* out)
{
    for (size_t i = 0; i < n; ++i) {
        const size_t end = i + 1 < n ? s.find(sep) : std::string_view::npos;
        if (i + 1 < n && end == std::string_view::npos)
            return false;
        const auto v = parse_long(s.substr(0, end));
        if (!v || *v < -2147483647L || *v > 2147483647L)
            return false;
        out[i] = *v;
        s = end == std::string_view::npos ? std::string_view() : s.substr(end + 1);
    }
    return true;
}

bool parse_geometry(std::string_view s, long* w, long* h, unsigned* bits)
{
    size_t a = s.find('x');
    size_t b = a == std::string_view::npos ? a : s.find('x', a + 1);
    if (b == std::string_view::npos)
        return false;
    auto pw = parse_long(s.substr(0, a));
    auto ph = parse_long(s.substr(a + 1, b - a - 1));
    auto pb = parse_long(s.substr(b + 1));
    if (!pw || !ph || !pb || *pb < 0 || *pb > 1024)
        return false;
    *w = *pw;
    *h = *ph;
    *bits = static_cast<unsigned>(*pb);
    return true;
}

const char* palette_type_name(int type)
{
    static const char* const names[] = {"none", "other", "black/white", "white/black", "standard 16 colours",
                                        "descending grey ramp", "ascending grey ramp", "default 256 colours"};
    return type >= 0 && type < 8 ? names[type] : "?";
}

const char* compression_name(DWORD compression)
{
    switch (compression) {
    case BI_RGB: return "BI_RGB";
    case BI_RLE8: return "BI_RLE8";
    case BI_RLE4: return "BI_RLE4";
    case BI_BITFIELDS: return "BI_BITFIELDS";
    default: return "unknown";
    }
}

std::string hex_colour(DWORD colourWord)
{
    char buf[8];
    std::snprintf(buf, sizeof buf, "#%02x%02x%02x", colourWord & 0xFF, (colourWord >> 8) & 0xFF,
                  (colourWord >> 16) & 0xFF);
    return buf;
}

bool image_facts(HGLOBAL hDib, ImageFacts* out)
{
    ImageFacts f{};
    if (!DIBInfo(hDib, &f.completed, sizeof f.completed))
        return false;
    const uint8_t* p = static_cast<const uint8_t*>(GlobalLock(hDib));
    if (!p)
        return false;
    f.paletteType = DIBPaletteType(p);
    f.cmyk = DIBIsCmyk(p) != 0;
    f.paletteBytes = DIBPaletteSize(p);
    const BITMAPINFOHEADER& bi = f.completed;
    if (bi.biCompression == BI_BITFIELDS) {
        // The masks follow the header in the library's images; a 108-byte
        // header adds the alpha mask at offset 52.
        f.haveMasks = true;
        std::memcpy(f.masks, p + bi.biSize, 12);
        if (bi.biSize >= 108)
            std::memcpy(&f.masks[3], p + 52, 4);
    }
    GlobalUnlock(hDib);
    f.stride = static_cast<uint64_t>((static_cast<int64_t>(bi.biWidth) * bi.biBitCount + 31) / 32) * 4;
    f.blockSize = GlobalSize(hDib);
    f.pixelOffset = bi.biSize + f.paletteBytes + (bi.biCompression == BI_BITFIELDS ? 12 : 0);
    *out = f;
    return true;
}

}  // namespace kelm_cli
