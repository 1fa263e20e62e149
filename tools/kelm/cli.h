// Shared pieces of the kelm tool: command table, argument parsing helpers,
// and the small amount of formatting every command needs.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "kelm3.h"

namespace kelm_cli {

// Exit statuses: success, failure of the operation, wrong usage.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;

using Args = std::vector<std::string_view>;

struct Command {
    const char* name;
    const char* synopsis;  // one line for the tool's --help
    const char* help;      // full text for `kelm CMD --help`
    int (*run)(const Args& args);
};

int cmd_new(const Args& args);
int cmd_info(const Args& args);
int cmd_copy(const Args& args);
int cmd_pixel(const Args& args);

// Prints "kelm CMD: message" to stderr and returns kExitUsage.
int usage_error(std::string_view cmd, const std::string& message);
// Prints "kelm: message" to stderr and returns kExitFailure.
int failure(const std::string& message);

std::optional<long> parse_long(std::string_view s);
// "640x480x8" -> width, height, bits.
bool parse_geometry(std::string_view s, long* w, long* h, unsigned* bits);
// "#RRGGBB", "RRGGBB" or "0xAABBGGRR" (a colour word) -> colour word.
std::optional<DWORD> parse_colour(std::string_view s);

const char* palette_type_name(int type);
const char* compression_name(DWORD compression);
std::string json_escape(std::string_view s);
std::string hex_colour(DWORD colourWord);  // "#rrggbb"

// The header of a packed DIB as DIBInfo completes it, plus the facts the
// commands print about an image held in a block.
struct ImageFacts {
    BITMAPINFOHEADER completed;
    int paletteType;
    bool cmyk;
    uint64_t stride;
    uint64_t blockSize;
    uint64_t paletteBytes;
    uint64_t pixelOffset;
};
bool image_facts(HGLOBAL hDib, ImageFacts* out);

}  // namespace kelm_cli

namespace kelm_cli {

// One pixel read back through the RW API.
struct PixelSample {
    int x, y;
    DWORD colour;        // colour word, or 0xFFFFFFFF
    uint8_t raw[8];
    unsigned rawBytes;   // how many raw bytes are meaningful for the layout
    Rgbq16 rgb16;
};

// Samples the corners and the centre of an image (nothing when RWOpenDIB
// refuses it, for example an RLE image).
std::vector<PixelSample> sample_pixels(HGLOBAL hDib, bool* opened);
PixelSample read_pixel(LPTRDIB rw, const BITMAPINFOHEADER& bi, int x, int y);
unsigned raw_bytes_for(const BITMAPINFOHEADER& bi);
std::string raw_hex(const PixelSample& s);

void print_header_text(const char* title, const BITMAPINFOHEADER& bi);
void print_facts_text(const ImageFacts& f);
void print_samples_text(const std::vector<PixelSample>& samples, bool opened);
std::string header_json(const BITMAPINFOHEADER& bi);
std::string facts_json(const ImageFacts& f);
std::string samples_json(const std::vector<PixelSample>& samples);

}  // namespace kelm_cli
