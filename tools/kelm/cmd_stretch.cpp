// `kelm stretch IN OUT WIDTHxHEIGHT [--rect LEFT,TOP,RIGHT,BOTTOM]`: scales
// an image, or a rectangle of it (inclusive edges, from the top-left
// corner), to a new size with StretchDIB.
#include <string>

#include "cli.h"
#include "progress.h"

namespace kelm_cli {

int cmd_stretch(const Args& args)
{
    ResizeArgs r;
    if (const int status = parse_resize_args("stretch", args, 1000000, "800x600", &r); status != kExitOk)
        return status;
    LoadedImage img;
    RECT rc;
    if (const int status = load_for_resize("stretch", r, &img, &rc); status != kExitOk)
        return status;
    HGLOBAL scaled;
    {
        Progress progress("stretch", 1);
        scaled = StretchDIB(img.dib, static_cast<LONG>(r.width), static_cast<LONG>(r.height), r.hasRect ? &rc : nullptr);
        progress.update(1);
    }
    DIBFree(img.dib);
    if (!scaled)
        return failure(r.in, "cannot stretch: out of memory or the result is too large");
    const std::string w = std::to_string(r.width), h = std::to_string(r.height);
    return save_and_report(r.out, scaled, w + "x" + h, "\"width\":" + w + ",\"height\":" + h);
}

}  // namespace kelm_cli
