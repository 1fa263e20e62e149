// Parsing and formatting helpers of the kelm tool.
#include "cli.h"

#include <charconv>
#include <cstdio>
#include <cstring>

namespace kelm_cli {

int usage_error(std::string_view cmd, const std::string& message)
{
    std::fprintf(stderr, "kelm %.*s: %s\nTry 'kelm %.*s --help'.\n", static_cast<int>(cmd.size()), cmd.data(),
                 message.c_str(), static_cast<int>(cmd.size()), cmd.data());
    return kExitUsage;
}

int failure(const std::string& message)
{
    std::fprintf(stderr, "kelm: %s\n", message.c_str());
    return kExitFailure;
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

bool parse_geometry(std::string_view s, long* w, long* h, unsigned* bits)
{
    size_t a = s.find('x');
    size_t b = a == std::string_view::npos ? a : s.find('x', a + 1);
    if (b == std::string_view::npos)
        return false;
    auto pw = parse_long(s.substr(0, a));
    auto ph = parse_long(s.substr(a + 1, b - a - 1));
    auto pb = parse_long(s.substr(b + 1));
    if (!pw || !ph || !pb || *pb < 0 || *pb > 64)
        return false;
    *w = *pw;
    *h = *ph;
    *bits = static_cast<unsigned>(*pb);
    return true;
}

std::optional<DWORD> parse_colour(std::string_view s)
{
    auto hex = [](std::string_view t) -> std::optional<uint32_t> {
        uint32_t v = 0;
        const char* end = t.data() + t.size();
        auto [p, ec] = std::from_chars(t.data(), end, v, 16);
        if (ec != std::errc() || p != end || t.empty())
            return std::nullopt;
        return v;
    };
    if (s.size() >= 2 && (s.substr(0, 2) == "0x" || s.substr(0, 2) == "0X")) {
        // A colour word as the library takes it: 0x00BBGGRR.
        if (s.size() > 10)
            return std::nullopt;
        return hex(s.substr(2));
    }
    if (!s.empty() && s[0] == '#')
        s.remove_prefix(1);
    if (s.size() != 6)
        return std::nullopt;
    auto v = hex(s);
    if (!v)
        return std::nullopt;
    // #RRGGBB, as people write colours, to the library's red-low layout.
    const DWORD r = (*v >> 16) & 0xFF, g = (*v >> 8) & 0xFF, b = *v & 0xFF;
    return r | (g << 8) | (b << 16);
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

std::string json_escape(std::string_view s)
{
    std::string out;
    for (char c : s) {
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\t': out += "\\t"; break;
        default:
            if (static_cast<unsigned char>(c) < 0x20) {
                char buf[8];
                std::snprintf(buf, sizeof buf, "\\u%04x", c);
                out += buf;
            } else {
                out += c;
            }
        }
    }
    return out;
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
    const void* p = GlobalLock(hDib);
    if (!p)
        return false;
    f.paletteType = DIBPaletteType(p);
    f.cmyk = DIBIsCmyk(p) != 0;
    f.paletteBytes = DIBPaletteSize(p);
    GlobalUnlock(hDib);
    const BITMAPINFOHEADER& bi = f.completed;
    f.stride = static_cast<uint64_t>((static_cast<int64_t>(bi.biWidth) * bi.biBitCount + 31) / 32) * 4;
    f.blockSize = GlobalSize(hDib);
    f.pixelOffset = bi.biSize + f.paletteBytes + (bi.biCompression == BI_BITFIELDS ? 12 : 0);
    *out = f;
    return true;
}

}  // namespace kelm_cli
