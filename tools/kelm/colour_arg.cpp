// Colour arguments. "#RRGGBB" is how people and other image tools write a
// colour, red first; the library's colour word keeps red in the low byte, so
// "0xff0000" is blue. A bare "ff0000" could mean either and is refused.
#include "colour_arg.h"

#include <cctype>
#include <cstdio>
#include <charconv>
#include <cstdint>

namespace kelm_cli {

const char* const kColourForms = "#RRGGBB, #RGB, a colour name (black, white, red, lime, green, blue, yellow, cyan, "
                                 "magenta, grey, silver, maroon, olive, navy, purple, teal, orange), or a colour "
                                 "word 0x00BBGGRR";

namespace {

// The basic colour names of HTML and CSS (so "green" is #008000 and "lime"
// #00ff00, as other image tools take them), with the usual aliases.
struct NamedColour {
    const char* name;
    uint32_t rgb;  // 0xRRGGBB
};
constexpr NamedColour kNames[] = {
    {"black", 0x000000},  {"white", 0xffffff},   {"red", 0xff0000},     {"lime", 0x00ff00},
    {"green", 0x008000},  {"blue", 0x0000ff},    {"yellow", 0xffff00},  {"cyan", 0x00ffff},
    {"aqua", 0x00ffff},   {"magenta", 0xff00ff}, {"fuchsia", 0xff00ff}, {"grey", 0x808080},
    {"gray", 0x808080},   {"silver", 0xc0c0c0},  {"maroon", 0x800000},  {"olive", 0x808000},
    {"navy", 0x000080},   {"purple", 0x800080},  {"teal", 0x008080},    {"orange", 0xffa500},
};

std::optional<uint32_t> hex(std::string_view t)
{
    uint32_t v = 0;
    if (t.empty())
        return std::nullopt;
    for (char c : t)
        if (!std::isxdigit(static_cast<unsigned char>(c)))
            return std::nullopt;
    const char* end = t.data() + t.size();
    auto [p, ec] = std::from_chars(t.data(), end, v, 16);
    if (ec != std::errc() || p != end)
        return std::nullopt;
    return v;
}

DWORD word_from_rgb(uint32_t rgb)
{
    return ((rgb >> 16) & 0xFF) | (rgb & 0xFF00) | ((rgb & 0xFF) << 16);
}

}  // namespace

std::optional<DWORD> parse_colour(std::string_view s, std::string* error)
{
    std::string quoted = "'";
    quoted.append(s);
    quoted += "'";
    if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
        auto v = s.size() <= 10 ? hex(s.substr(2)) : std::nullopt;
        if (!v)
            *error = "not a colour word: " + quoted + " (0x00BBGGRR, at most 8 hex digits)";
        return v;
    }
    if (!s.empty() && s[0] == '#') {
        const std::string_view h = s.substr(1);
        auto v = hex(h);
        if (v && h.size() == 6)
            return word_from_rgb(*v);
        if (v && h.size() == 3) {
            // #RGB: each digit doubled, as in CSS.
            const uint32_t r = (*v >> 8) & 0xF, g = (*v >> 4) & 0xF, b = *v & 0xF;
            return word_from_rgb((r * 0x11) << 16 | (g * 0x11) << 8 | b * 0x11);
        }
        *error = "not a colour: " + quoted + " (#RRGGBB or #RGB)";
        return std::nullopt;
    }
    std::string lower;
    for (char c : s)
        lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (const NamedColour& n : kNames)
        if (lower == n.name)
            return word_from_rgb(n.rgb);
    if (s.size() == 6 && hex(s)) {
        const DWORD asWord = *hex(s);
        char blue[8];
        std::snprintf(blue, sizeof blue, "#%02x%02x%02x", asWord & 0xFF, (asWord >> 8) & 0xFF, (asWord >> 16) & 0xFF);
        *error = "ambiguous colour " + quoted + ": write '#" + std::string(s) + "' for #RRGGBB, or '0x" +
                 std::string(s) + "' for the colour word 0x00BBGGRR (that is " + blue + ")";
        return std::nullopt;
    }
    *error = "not a colour: " + quoted + " (use " + kColourForms + ")";
    return std::nullopt;
}

}  // namespace kelm_cli
