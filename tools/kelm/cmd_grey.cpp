// `kelm grey IN OUT`: shades of grey with GrayDIB, (77 R + 151 G + 28 B) / 256.
// Palette images keep their pixels and get a grey colour table; 24- and
// 32-bit images become 8-bit grey images.
#include <string>

#include "cli.h"

namespace kelm_cli {

int cmd_grey(const Args& args)
{
    ParsedArgs a;
    std::string error;
    if (!parse_args(args, {}, {}, &a, &error))
        return usage_error("grey", error);
    if (a.positional.size() != 2)
        return usage_error("grey", "expected IN OUT");
    const std::string in(a.positional[0]), out(a.positional[1]);
    LoadedImage img;
    if (int status = load_for_pixels("turn grey", in, &img); status != kExitOk)
        return status;
    BITMAPINFOHEADER bi;
    DIBInfo(img.dib, &bi, sizeof bi);
    // GrayDIB greys only the colour table below 24 bits, which a 16-bit
    // image does not use for its pixels, and it takes no bit fields: such
    // images go through 24 bits, whose pixels it reads.
    if ((bi.biBitCount == 16 || bi.biCompression == BI_BITFIELDS) && !ConvertDIB(&img.dib, 24, 0)) {
        DIBFree(img.dib);
        return failure(in, "cannot turn grey: out of memory widening it to 24 bits");
    }
    // Below 24 bits GrayDIB hands back the same image; at 24 and 32 bits a
    // new one and frees the old. On failure the old one is still ours.
    HGLOBAL grey = GrayDIB(img.dib);
    if (!grey) {
        DIBFree(img.dib);
        return failure(in, "cannot turn grey: out of memory");
    }
    DIBInfo(grey, &bi, sizeof bi);
    return save_and_report(out, grey,
                           std::to_string(bi.biWidth) + "x" + std::to_string(bi.biHeight) + ", grey, " +
                               std::to_string(bi.biBitCount * bi.biPlanes) + " bits",
                           "\"width\":" + std::to_string(bi.biWidth) + ",\"height\":" + std::to_string(bi.biHeight) +
                               ",\"bits\":" + std::to_string(bi.biBitCount * bi.biPlanes));
}

}  // namespace kelm_cli
