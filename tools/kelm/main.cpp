// kelm: the command-line face of the kelm3 library. Each command is a thin
// client of the public interface, so the tool doubles as a working example
// of how applications use it.
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>

#include "cli.h"
#include "colour_arg.h"
#include "progress.h"

#ifndef KELM_VERSION
#define KELM_VERSION "unknown"
#endif

namespace kelm_cli {
namespace {

const Command kCommands[] = {
    {"new", "new WIDTHxHEIGHTxBITS [--two-plane] [--fill COLOUR] [--json] [OUT]",
     "Usage: kelm new WIDTHxHEIGHTxBITS [--two-plane] [--fill COLOUR] [--json] [OUT]\n"
     "\n"
     "Creates an image in memory with the default colour table of its depth and\n"
     "shows its header, palette type, stride and sizes, and the corner and centre\n"
     "pixels read back through the pixel API (images above 1048576 pixels: the\n"
     "header only). With OUT the image is saved there (PNG for a .png name).\n"
     "\n"
     "  BITS          1, 4, 8, 16, 24 or 32 (48 and 64: two planes of 24 or 32)\n"
     "  --two-plane   16 bits per sample: two planes of BITS (8, 24 or 32)\n"
     "  --fill COLOUR set every pixel; palette images take the nearest table entry\n"
     "  --json        print one JSON object instead of text\n",
     cmd_new},
    {"info", "info FILE... [--brief] [--json]",
     "Usage: kelm info FILE... [--brief] [--json]\n"
     "\n"
     "Loads each image (BMP in any header variant, or PNG; - for standard input)\n"
     "and shows its header as stored in the file and as the library completes it,\n"
     "the colour masks, the palette type, whether it is CMYK, the stride and\n"
     "sizes, and the corner and centre pixels.\n"
     "\n"
     "  --brief       one line per file\n"
     "  --json        JSON: one object, or a list of objects for several files\n",
     cmd_info},
    {"copy", "copy IN OUT",
     "Usage: kelm copy IN OUT\n"
     "\n"
     "Loads IN and saves it as OUT: PNG when OUT ends in .png, else BMP as the\n"
     "reader delivers it (RLE decoded, top-down rows turned bottom-up, OS/2 and\n"
     "other headers converted). - is standard input or output (BMP).\n",
     cmd_copy},
    {"pixel", "pixel FILE X Y [COLOUR] [--stored-rows] [--json]",
     "Usage: kelm pixel FILE X Y [COLOUR] [--stored-rows] [--json]\n"
     "\n"
     "Reads pixel X, Y (from the top-left corner) through the pixel API and\n"
     "prints its colour and raw value. With COLOUR it writes the pixel and saves\n"
     "FILE again in its format; palette images take the nearest table entry.\n"
     "\n"
     "  --stored-rows Y is the library's row in memory order (0 is the bottom\n"
     "                line of an ordinary bottom-up image)\n"
     "  --json        print one JSON object instead of text\n",
     cmd_pixel},
    {"barcode", "barcode FILE... [--rows] [--columns] [--only LIST] [--new-only] [--json]",
     "Usage: kelm barcode FILE... [--rows] [--columns] [--only LIST] [--new-only] [--json]\n"
     "\n"
     "Finds Code 39, Interleaved 2 of 5, EAN-13, EAN-8 and EAN 2- and 5-digit add-on\n"
     "barcodes in each image (BMP or PNG; - for standard input) and prints every\n"
     "distinct code once: its text, its symbology (ean13+ean5 for an EAN-13 read\n"
     "with its add-on), the first line it was read on (rows from the top) and on\n"
     "how many lines it was read. Lines are read in both directions, so codes are\n"
     "found upside down too; a pixel is dark when its green value is at most half.\n"
     "\n"
     "  --rows        scan rows (with neither --rows nor --columns: both)\n"
     "  --columns     scan columns\n"
     "  --only LIST   comma-separated symbologies: ean13, ean8, ean5, ean2, i2of5,\n"
     "                code39 (default all)\n"
     "  --new-only    hear of each code once only, without its line count (faster\n"
     "                on large images full of codes)\n"
     "  --json        JSON: one object, or a list of objects for several files\n"
     "\n"
     "Exit status: 0 when a code was found (and every file could be read), 1 when\n"
     "none was or a file could not be read, 2 wrong usage.\n",
     cmd_barcode},
    {"rotate", "rotate IN OUT ANGLE [--background COLOUR|none] [--json]",
     "Usage: kelm rotate IN OUT ANGLE [--background COLOUR|none] [--json]\n"
     "\n"
     "Turns IN by ANGLE degrees (at most one decimal; positive is counter-\n"
     "clockwise) into a new image just large enough for it, and saves it as OUT.\n"
     "Right angles move pixels unchanged; other angles take the nearest source\n"
     "pixel.\n"
     "\n"
     "  --background COLOUR  the corners no source pixel covers (default none:\n"
     "                       they stay 0, black or the first table entry)\n"
     "  --json               print one JSON object instead of text\n",
     cmd_rotate},
    {"stretch", "stretch IN OUT WIDTHxHEIGHT [--rect LEFT,TOP,RIGHT,BOTTOM] [--json]",
     "Usage: kelm stretch IN OUT WIDTHxHEIGHT [--rect LEFT,TOP,RIGHT,BOTTOM] [--json]\n"
     "\n"
     "Scales IN (or a rectangle of it) to WIDTHxHEIGHT pixels by pixel selection\n"
     "and saves it as OUT.\n"
     "\n"
     "  --rect L,T,R,B  the source rectangle, inclusive pixel edges counted from\n"
     "                  the top-left corner (default: the whole image)\n"
     "  --json          print one JSON object instead of text\n",
     cmd_stretch},
    {"blend", "blend DEST SRC OUT [--at X,Y] [--size WxH] [--opacity 0-255] [--json]",
     "Usage: kelm blend DEST SRC OUT [--at X,Y] [--size WxH] [--opacity 0-255] [--json]\n"
     "\n"
     "Blends SRC into DEST and saves the result as OUT. SRC is scaled to the\n"
     "rectangle by pixel selection. Both images need 24 or 32 bits; a 32-bit SRC\n"
     "with an alpha channel is blended by its alpha as well. Anything else (or\n"
     "opacity 255 without alpha, or a rectangle not inside DEST) is copied\n"
     "opaquely.\n"
     "\n"
     "  --at X,Y        the rectangle's top-left corner in DEST (default 0,0)\n"
     "  --size WxH      the rectangle's size (default: SRC's size)\n"
     "  --opacity N     0 keeps DEST, 255 takes SRC (default 255)\n"
     "  --json          print one JSON object instead of text\n",
     cmd_blend},
    // Device output.
    {"postscript", "postscript IN OUT.ps [--size WxH] [--json]",
     "Usage: kelm postscript IN OUT.ps [--size WxH] [--json]\n"
     "\n"
     "Prints a 32-bit CMYK image (a BMP with a V4 or V5 header whose colour space\n"
     "is CMYK) through the library's PostScript road into OUT.ps: a DeviceCMYK\n"
     "PostScript image holding the image's own inks, at the top-left corner of a\n"
     "612 x 792 point page, one pixel a point unless --size says otherwise. Other\n"
     "images are refused: the printer renders nothing but the CMYK road. - writes\n"
     "standard output.\n"
     "\n"
     "  --size WxH    the picture's size on the page in points\n"
     "  --json        print one JSON object instead of text\n",
     cmd_postscript},
    {"spline", "spline OUT X,Y X,Y X,Y ... [--size WxH] [--colour COLOUR] [--json]",
     "Usage: kelm spline OUT X,Y X,Y X,Y ... [--size WxH] [--colour COLOUR] [--json]\n"
     "\n"
     "Draws the quadratic B-spline of the control points (from the top-left\n"
     "corner) into a new white 24-bit image and saves it as OUT (PNG for a .png\n"
     "name). It starts at the first point, ends at the last and is pulled towards\n"
     "the others; two points give their segment.\n"
     "\n"
     "  --size WxH      image size (default: just large enough for the points)\n"
     "  --colour COLOUR the curve's colour (default black)\n"
     "  --json          print one JSON object instead of text\n",
     cmd_spline},
    {"scan", "scan OUT [--source NAME] [--list] [--ui] [--bits 1|8|24] [--dpi N] [--area L,T,R,B] [--count N]",
     "Usage: kelm scan OUT [--source NAME] [--ui] [--bits 1|8|24] [--dpi N] [--area L,T,R,B] [--count N]\n"
     "       kelm scan --list\n"
     "\n"
     "Scans through the TWAIN source manager and saves the page as OUT (PNG for a\n"
     ".png name, else BMP). On Linux the sources are the SANE devices (and TWAIN\n"
     "data sources in the twain_32 folder of the Windows directory, KELM3_WINDIR).\n"
     "\n"
     "  --list        list the sources (name, maker, model)\n"
     "  --source NAME scan from this source (default: the manager's default)\n"
     "  --ui          show the source's own dialog\n"
     "  --bits N      1 (black and white), 8 (grey) or 24 (colour; the default)\n"
     "  --dpi N       resolution, 1 to 32767\n"
     "  --area L,T,R,B scan area in millimetres from the top-left corner\n"
     "  --count N     keep up to N pages, saved as OUT-1, OUT-2, ... before the\n"
     "                extension when N > 1 (default 1)\n"
     "  --json        print one JSON object instead of text\n",
     cmd_scan},
    {"rotate-wmf", "rotate-wmf IN OUT ANGLE [--json]",
     "Usage: kelm rotate-wmf IN OUT ANGLE [--json]\n"
     "\n"
     "Turns the Windows metafile IN by ANGLE degrees (at most one decimal,\n"
     "counter-clockwise) record by record and writes it as OUT. The result's\n"
     "window starts at 0, 0 and holds the whole turned picture. A placeable\n"
     "header (22 bytes, key 9AC6CDD7) is kept, with the turned bounding box.\n"
     "Records too short for their fields are left out. - is standard input or\n"
     "output.\n"
     "\n"
     "  --json        print one JSON object instead of text\n",
     cmd_rotate_wmf},
    {"rotate-emf", "rotate-emf IN OUT ANGLE [--json]",
     "Usage: kelm rotate-emf IN OUT ANGLE [--json]\n"
     "\n"
     "Turns the enhanced metafile IN by ANGLE degrees (at most one decimal,\n"
     "counter-clockwise) about its origin, record by record, and writes it as\n"
     "OUT; the new bounds cover the turned drawing. Clip rectangles are dropped;\n"
     "records that do not fit their sizes are left out. - is standard input or\n"
     "output.\n"
     "\n"
     "  --json        print one JSON object instead of text\n",
     cmd_rotate_emf},
    // Colour.
    {"convert", "convert IN OUT --bits N [--json]",
     "Usage: kelm convert IN OUT --bits N [--json]\n"
     "\n"
     "Converts IN to another depth and saves it as OUT. Fewer bits take the\n"
     "nearest entry of the new depth's default colour table, without dithering\n"
     "(see kelm dither); more bits keep the colours.\n"
     "\n"
     "  --bits N      1, 4, 8, 16, 24 or 32; 48 and 64 give two planes of 24 or 32\n"
     "  --json        print one JSON object instead of text\n",
     cmd_convert},
    {"palette", "palette IN OUT --colours N [--json]",
     "Usage: kelm palette IN OUT --colours N [--json]\n"
     "\n"
     "Chooses N colours that represent IN (median cut over a 64x64x64 colour\n"
     "histogram), prints them and saves them as the colour table of a 1 x 1\n"
     "8-bit image OUT, for kelm dither --to 8 --palette OUT. Entries past the\n"
     "colours the image has are black.\n"
     "\n"
     "  --colours N   1 to 256\n"
     "  --json        JSON with the table as \"colours\": [\"#rrggbb\", ...]\n",
     cmd_palette},
    {"dither", "dither IN OUT --to 1|4|8 [--levels N] [--popular N] [--palette FILE] [--grey-map FILE] [--json]",
     "Usage: kelm dither IN OUT --to 1|4|8 [--levels N] [--popular N] [--palette FILE]\n"
     "                   [--grey-map FILE] [--json]\n"
     "\n"
     "Reduces IN by error diffusion and saves it as OUT. Forms a dither does not\n"
     "read (fewer bits than it takes, two planes, other bit-field layouts) are\n"
     "widened to 24 bits first, with a note.\n"
     "\n"
     "  --to 1        black and white, by the grey value (77 R + 151 G + 28 B) / 256\n"
     "  --to 4        the standard 16 colours\n"
     "  --to 8        an 8-bit palette: by default the 6x6x6 colour cube, 16 greys\n"
     "                and white (233 entries)\n"
     "  --levels N    --to 8: a cube of N (2 to 6) levels per channel, 0 for none\n"
     "  --popular N   --to 8: the N (0 to 255) most frequent colours after the\n"
     "                cube, then the standard 16 colours when 240 or fewer entries\n"
     "                precede them; at most 256 entries in all\n"
     "  --palette FILE  --to 8: the colour table of an image (e.g. from kelm\n"
     "                palette); at most 255 of its entries are used\n"
     "  --grey-map FILE  --to 1: 256 numbers 0 to 255 separated by spaces or\n"
     "                lines; entry g replaces the grey value g before dithering\n"
     "  --json        print one JSON object instead of text\n",
     cmd_dither},
    {"grey", "grey IN OUT [--json]",
     "Usage: kelm grey IN OUT [--json]\n"
     "\n"
     "Turns IN into shades of grey, (77 R + 151 G + 28 B) / 256, and saves it as\n"
     "OUT. Palette images keep their pixels and get a grey colour table; other\n"
     "images become 8-bit grey images (16-bit and bit-field images through 24\n"
     "bits; two planes stay two planes).\n"
     "\n"
     "  --json        print one JSON object instead of text\n",
     cmd_grey},
    {"scale-to-grey", "scale-to-grey IN OUT WIDTHxHEIGHT [--rect LEFT,TOP,RIGHT,BOTTOM] [--json]",
     "Usage: kelm scale-to-grey IN OUT WIDTHxHEIGHT [--rect LEFT,TOP,RIGHT,BOTTOM] [--json]\n"
     "\n"
     "Scales IN (or a rectangle of it) to WIDTHxHEIGHT by averaging the boxes of\n"
     "pixels each new pixel covers, and saves it as OUT. A 1-bit image becomes an\n"
     "8-bit image of 65 grey levels (a bilevel scan viewed smaller); any other a\n"
     "24-bit image.\n"
     "\n"
     "  --rect L,T,R,B  the source rectangle, inclusive pixel edges counted from\n"
     "                  the top-left corner (default: the whole image)\n"
     "  --json          print one JSON object instead of text\n",
     cmd_scale_to_grey},
    {"gamma", "gamma IN OUT VALUE [--json]",
     "Usage: kelm gamma IN OUT VALUE [--json]\n"
     "\n"
     "Gamma-corrects IN and saves it as OUT: each channel v becomes\n"
     "255 x (v / 255) ^ VALUE, truncated. 1.0 leaves the image unchanged, above 1\n"
     "darkens, below 1 brightens. VALUE counts to four decimals (0.0001 to\n"
     "100000). Palette images have their colour table corrected; an alpha\n"
     "channel is kept.\n"
     "\n"
     "  --json        print one JSON object instead of text\n",
     cmd_gamma},
    {"filter", "filter IN OUT --kernel FILE [--offset N] [--json]",
     "Usage: kelm filter IN OUT --kernel FILE [--offset N] [--json]\n"
     "\n"
     "Convolves a 24- or 32-bit IN (two planes and CMYK too) with the kernel in\n"
     "FILE and saves it as OUT. Each channel becomes OFFSET + (sum of weight x\n"
     "neighbour) / 256, clamped; neighbours outside the image are left out.\n"
     "An alpha channel is kept.\n"
     "\n"
     "Kernel file: first line \"W H\" (odd, 1 to 99), then H rows of W integer\n"
     "weights in 1/256 (256 is 1.0), the first row above the pixel as the image\n"
     "is displayed. Lines starting with # are comments. A 3x3 blur:\n"
     "    3 3\n"
     "    16 32 16\n"
     "    32 64 32\n"
     "    16 32 16\n"
     "\n"
     "  --kernel FILE the kernel\n"
     "  --offset N    added to every value (-65535 to 65535, default 0)\n"
     "  --json        print one JSON object instead of text\n",
     cmd_filter},
    {"sharpen", "sharpen IN OUT [--json]",
     "Usage: kelm sharpen IN OUT [--json]\n"
     "\n"
     "Sharpens a 24- or 32-bit IN (two planes and CMYK too) and saves it as OUT:\n"
     "twice each pixel less a quarter of each of its four direct neighbours\n"
     "(kelm filter with the kernel 3 3 / 0 -64 0 / -64 512 -64 / 0 -64 0).\n"
     "\n"
     "  --json        print one JSON object instead of text\n",
     cmd_sharpen},
};

const Command kHidden[] = {
    {"_progress", "", "Usage: kelm _progress STEPS\n", cmd_progress_demo},
};

void print_tool_help(FILE* out)
{
    std::fprintf(out,
                 "Usage: kelm COMMAND [ARGS...]\n"
                 "\n"
                 "Image editing with the kelm3 library.\n"
                 "\n"
                 "Commands:\n");
    for (const Command& c : kCommands)
        std::fprintf(out, "  kelm %s\n", c.synopsis);
    std::fprintf(out,
                 "\n"
                 "Coordinates count from the top-left corner. Colours: %s.\n"
                 "Files are BMP or PNG, told apart by their contents; output is PNG for a .png\n"
                 "name, else BMP. - is standard input or output. Saving replaces a file only\n"
                 "after a complete write. Every command takes --json and --quiet (no progress\n"
                 "bar, no notes).\n"
                 "'kelm COMMAND --help' describes a command. 'kelm --version' gives the version.\n"
                 "Exit status: 0 success, 1 failure, 2 wrong usage.\n",
                 kColourForms);
}

}  // namespace
}  // namespace kelm_cli

int main(int argc, char** argv)
{
    using namespace kelm_cli;
    // A write past a file-size limit must fail with EFBIG, so that the
    // half-written temporary file is removed, instead of killing the process.
    std::signal(SIGXFSZ, SIG_IGN);
    if (argc < 2) {
        print_tool_help(stderr);
        return kExitUsage;
    }
    // Options of every command may also come before the command's name.
    int first = 1;
    for (; first < argc; ++first) {
        const std::string_view a = argv[first];
        if (a == "--json")
            options().json = true;
        else if (a == "--quiet")
            options().quiet = true;
        else
            break;
    }
    if (first >= argc) {
        print_tool_help(stderr);
        return kExitUsage;
    }
    const std::string_view name = argv[first];
    if (name == "--help" || name == "-h" || name == "help") {
        print_tool_help(stdout);
        return kExitOk;
    }
    if (name == "--version" || name == "-V") {
        std::printf("kelm %s (kelm3 library)\n", KELM_VERSION);
        return kExitOk;
    }
    Args args(argv + first + 1, argv + argc);
    for (std::string_view a : args) {
        if (a == "--")
            break;
        options().json = options().json || a == "--json";
        options().quiet = options().quiet || a == "--quiet";
    }
    Progress::set_quiet(options().quiet);
    auto run = [&](const Command& c) {
        for (std::string_view a : args) {
            if (a == "--")
                break;
            if (a == "--help" || a == "-h") {
                std::fputs(c.help, stdout);
                return kExitOk;
            }
        }
        return c.run(args);
    };
    for (const Command& c : kCommands)
        if (name == c.name)
            return run(c);
    for (const Command& c : kHidden)
        if (name == c.name)
            return run(c);
    std::fprintf(stderr, "kelm: unknown command '%s'\nTry 'kelm --help'.\n", argv[first]);
    return kExitUsage;
}
