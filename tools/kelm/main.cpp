// kelm: the command-line face of the kelm3 library. Each command is a thin
// client of the public interface, so the tool doubles as a working example
// of how applications use it.
#include <cstdio>
#include <cstring>
#include <string>

#include "cli.h"

namespace kelm_cli {
namespace {

const Command kCommands[] = {
    {"new", "new WIDTHxHEIGHTxBITS [--two-plane] [--fill COLOUR] [--json]",
     "Usage: kelm new WIDTHxHEIGHTxBITS [--two-plane] [--fill COLOUR] [--json]\n"
     "\n"
     "Creates an image in memory with the default colour table of its depth and\n"
     "shows its header, palette type, stride and sizes, and the corner and centre\n"
     "pixels read back through the pixel API.\n"
     "\n"
     "  BITS          1, 4, 8, 16, 24 or 32 (48 and 64: two planes of 24 or 32)\n"
     "  --two-plane   16 bits per sample: two planes of BITS (8, 24 or 32)\n"
     "  --fill COLOUR set every pixel (#RRGGBB, or a colour word 0x00BBGGRR);\n"
     "                palette images take the nearest table entry\n"
     "  --json        print one JSON object instead of text\n",
     cmd_new},
    {"info", "info FILE.bmp [--json]",
     "Usage: kelm info FILE.bmp [--json]\n"
     "\n"
     "Loads a bitmap and shows its header as stored in the file and as the library\n"
     "completes it (colour count, image size), the palette type, whether it is\n"
     "CMYK, the stride and sizes, and the corner and centre pixels.\n"
     "\n"
     "  --json        print one JSON object instead of text\n",
     cmd_info},
    {"copy", "copy IN.bmp OUT.bmp",
     "Usage: kelm copy IN.bmp OUT.bmp\n"
     "\n"
     "Loads IN and saves it as OUT, as the reader delivers it: RLE decoded,\n"
     "top-down rows turned bottom-up, OS/2 headers converted.\n",
     cmd_copy},
    {"pixel", "pixel FILE.bmp X Y [COLOUR] [--json]",
     "Usage: kelm pixel FILE.bmp X Y [COLOUR] [--json]\n"
     "\n"
     "Reads pixel X, Y (Y counts stored rows: 0 is the bottom line) through the\n"
     "pixel API and prints its colour and raw value. With COLOUR it writes the\n"
     "pixel and saves FILE again; palette images take the nearest table entry.\n"
     "\n"
     "  COLOUR        #RRGGBB, or a colour word 0x00BBGGRR\n"
     "  --json        print one JSON object instead of text\n",
     cmd_pixel},
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
                 "Rows are counted as stored: y 0 is the first row in memory, the bottom\n"
                 "line of an ordinary bottom-up image.\n"
                 "'kelm COMMAND --help' describes a command. Exit status: 0 success,\n"
                 "1 failure, 2 wrong usage.\n");
}

}  // namespace
}  // namespace kelm_cli

int main(int argc, char** argv)
{
    using namespace kelm_cli;
    if (argc < 2) {
        print_tool_help(stderr);
        return kExitUsage;
    }
    const std::string_view name = argv[1];
    if (name == "--help" || name == "-h" || name == "help") {
        print_tool_help(stdout);
        return kExitOk;
    }
    for (const Command& c : kCommands) {
        if (name != c.name)
            continue;
        Args args(argv + 2, argv + argc);
        for (std::string_view a : args)
            if (a == "--help" || a == "-h") {
                std::fputs(c.help, stdout);
                return kExitOk;
            }
        return c.run(args);
    }
    std::fprintf(stderr, "kelm: unknown command '%s'\nTry 'kelm --help'.\n", argv[1]);
    return kExitUsage;
}
