// `kelm sharpen IN OUT`: CreateSharpenedDIB, twice the pixel less a quarter
// of each of its four direct neighbours, on a 24- or 32-bit image.
#include <string>

#include "cli.h"

namespace kelm_cli {

int cmd_sharpen(const Args& args)
{
    ParsedArgs a;
    std::string error;
    if (!parse_args(args, {}, {}, &a, &error))
        return usage_error("sharpen", error);
    if (a.positional.size() != 2)
        return usage_error("sharpen", "expected IN OUT");
    return filter_image("sharpen", std::string(a.positional[0]), std::string(a.positional[1]), nullptr, 3, 3, 0);
}

}  // namespace kelm_cli
