// `kelm copy IN OUT`: load and save, so converting between BMP variants and
// PNG. The output format follows OUT's extension.
#include <string>

#include "cli.h"
#include "image_form.h"

namespace kelm_cli {

int cmd_copy(const Args& args)
{
    ParsedArgs a;
    std::string error;
    if (!parse_args(args, {}, {}, &a, &error))
        return usage_error("copy", error);
    if (a.positional.size() != 2)
        return usage_error("copy", "expected IN and OUT");
    const std::string in(a.positional[0]), out(a.positional[1]);
    LoadedImage img;
    if (!load_image(in, &img, &error))
        return failure(in, error);
    report_load(in, img);
    std::vector<std::string> notes;
    const bool saved = save_image(out, img.dib, &notes, &error);
    DIBFree(img.dib);
    if (!saved)
        return failure(out == "-" ? "(standard output)" : out, "cannot write: " + error);
    for (const std::string& n : notes)
        note(out, n);
    return kExitOk;
}

}  // namespace kelm_cli
