// Shared pieces of the kelm tool: command table, argument parsing, messages
// and exit statuses, and how images and pixels are shown.
#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "image_io.h"
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
int cmd_progress_demo(const Args& args);
int cmd_barcode(const Args& args);
int cmd_rotate(const Args& args);
int cmd_stretch(const Args& args);
int cmd_blend(const Args& args);
// Device output.
int cmd_postscript(const Args& args);
int cmd_spline(const Args& args);
int cmd_scan(const Args& args);
int cmd_rotate_wmf(const Args& args);
int cmd_rotate_emf(const Args& args);
// Colour.
int cmd_convert(const Args& args);
int cmd_palette(const Args& args);
int cmd_dither(const Args& args);
int cmd_grey(const Args& args);
int cmd_scale_to_grey(const Args& args);
int cmd_gamma(const Args& args);
int cmd_filter(const Args& args);
int cmd_sharpen(const Args& args);

// Options of the whole process, set by main before a command runs.
struct Options {
    bool json = false;   // --json: results and errors as JSON on stdout
    bool quiet = false;  // --quiet: no progress bar, no notes
};
Options& options();

// Command-line arguments split into options and positional arguments.
// "-" (standard input or output) and negative numbers are positional; "--"
// ends the options.
struct ParsedArgs {
    std::vector<std::string_view> positional;
    std::set<std::string_view> flags;
    std::vector<std::pair<std::string_view, std::string_view>> values;  // options that take a value
    std::optional<std::string_view> value(std::string_view name) const;
};
bool parse_args(const Args& args, std::initializer_list<std::string_view> flags,
                std::initializer_list<std::string_view> valued, ParsedArgs* out, std::string* error);

// Wrong usage: "kelm CMD: message" on stderr (with --json the error object on
// stdout), returns kExitUsage.
int usage_error(std::string_view cmd, const std::string& message);
// A failed operation on a file: "kelm: FILE: reason" on stderr (with --json
// {"error": reason, "file": FILE} on stdout), returns kExitFailure.
int failure(const std::string& file, const std::string& reason);
// The same without a file.
int failure(const std::string& reason);
// "kelm: FILE: note: ..." (silenced by --quiet) and "kelm: FILE: warning: ...".
void note(const std::string& file, const std::string& text);
void warning(const std::string& file, const std::string& text);
// Prints a loaded image's notes and warnings.
void report_load(const std::string& file, const LoadedImage& img);

std::optional<long> parse_long(std::string_view s);
// "a,b,c,d": exactly n integers of 32 bits separated by sep ("10,20",
// "800x600", a rectangle's four edges).
bool parse_numbers(std::string_view s, char sep, size_t n, long* out);
// "640x480x8" -> width, height, bits.
bool parse_geometry(std::string_view s, long* w, long* h, unsigned* bits);

const char* palette_type_name(int type);
const char* compression_name(DWORD compression);
std::string hex_colour(DWORD colourWord);  // "#rrggbb"
std::string display_name(const std::string& path);  // "-" is shown as "(standard input)"

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
    bool haveMasks;
    uint32_t masks[4];  // red, green, blue, alpha (alpha only after a 108-byte header)
};
bool image_facts(HGLOBAL hDib, ImageFacts* out);

// One pixel read back through the RW API. x and y count from the top-left
// corner; storedRow is the library's row (memory order).
struct PixelSample {
    int x, y, storedRow;
    DWORD colour;        // colour word, or 0xFFFFFFFF
    uint8_t raw[8];
    unsigned bits, planes;
    Rgbq16 rgb16;
};

// The image's height in rows, and the conversion between rows counted from
// the top and the library's stored rows (the same formula both ways).
int flip_row(const BITMAPINFOHEADER& bi, int row);

// Samples the corners and the centre of an image (nothing when RWOpenDIB
// refuses it).
std::vector<PixelSample> sample_pixels(HGLOBAL hDib, bool* opened);
PixelSample read_pixel(LPTRDIB rw, const BITMAPINFOHEADER& bi, int x, int storedRow);
// The raw value in hex: the pixel's own bits as a number, zero-padded to the
// depth's width (1 digit at 1 and 4 bits, 2 at 8, 4 at 16, 6 at 24, 8 at 32;
// two planes: 4, 12 or 16 digits, the 16-bit channels alpha, red, green,
// blue from the most significant end).
std::string raw_hex(const PixelSample& s);

void print_header_text(const char* title, const BITMAPINFOHEADER& bi, bool core);
void print_masks_text(const uint32_t masks[4], bool alpha);
void print_facts_text(const ImageFacts& f);
void print_samples_text(const std::vector<PixelSample>& samples, bool opened);
std::string header_json(const BITMAPINFOHEADER& bi, bool core);
std::string masks_json(const uint32_t masks[4], bool alpha);
std::string facts_json(const ImageFacts& f);
std::string sample_json(const PixelSample& s);
std::string samples_json(const std::vector<PixelSample>& samples);

// Steps the pixel commands share (command_steps.cpp).
// Loads IN for a command that works on its pixels: returns kExitOk with the
// image in *img, or prints why not ("kelm: IN: cannot VERB: ...") and
// returns the exit status, with nothing left allocated.
int load_for_pixels(const char* verb, const std::string& in, LoadedImage* img);
// The colour exports read 16-bit pixels as 5-5-5 and 32-bit ones as blue,
// green, red bytes whatever the bit-field masks say. An image whose masks say
// otherwise is widened to 24 bits through the pixel accessor (which honours
// them) first, with a note; false when that conversion fails (the image is
// then unchanged).
bool widen_unusual_masks(const std::string& in, HGLOBAL* dib);
// Saves a command's result as OUT and frees it, then reports: "OUT: TEXT"
// (not with --quiet), or with --json the object {"file":OUT,JSON_FIELDS}.
// The report goes to standard error when OUT is standard output.
int save_and_report(const std::string& out, HGLOBAL result, const std::string& text, const std::string& jsonFields);
// IN OUT WIDTHxHEIGHT [--rect LEFT,TOP,RIGHT,BOTTOM]: the arguments of the
// commands that scale an image, or a rectangle of it, to a new size.
struct ResizeArgs {
    std::string in, out;
    long width = 0, height = 0;
    bool hasRect = false;
    long rect[4] = {0, 0, 0, 0};  // inclusive edges, counted from the top-left corner
};
// Parses them, sizes from 1 to maxSize: kExitOk, or the exit status of the
// usage message printed (EXAMPLE shows a size, as "800x600").
int parse_resize_args(const char* verb, const Args& args, long maxSize, const char* example, ResizeArgs* r);
// Loads r.in as load_for_pixels does (VERB names the work in its messages)
// and, with --rect, gives the rectangle in the library's row order (stored
// rows, bottom line first) in *rc: kExitOk, or the exit status of the message
// printed (a rectangle outside the image too), with nothing left allocated.
int load_for_resize(const char* verb, const ResizeArgs& r, LoadedImage* img, RECT* rc);
// Filters IN with a kernel (kw x kh weights in 1/256, rows from the top as
// displayed), or sharpens it when kernel is null, and saves OUT (cmd_filter.cpp).
int filter_image(const char* verb, const std::string& in, const std::string& out, const LONG* kernel, int kw, int kh,
                 int offset);

}  // namespace kelm_cli
