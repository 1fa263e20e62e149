// `kelm gamma IN OUT VALUE`: gamma correction with GammaCorrectionApplyToDIB,
// each channel v becoming 255 x (v / 255) ^ VALUE: 1.0 leaves the image as it
// is, above 1 darkens, below 1 brightens. Palette images have their colour
// table corrected, other images their pixels.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "cli.h"

namespace kelm_cli {

int cmd_gamma(const Args& args)
{
    ParsedArgs a;
    std::string error;
    if (!parse_args(args, {}, {}, &a, &error))
        return usage_error("gamma", error);
    if (a.positional.size() != 3)
        return usage_error("gamma", "expected IN OUT VALUE");
    // The library takes the exponent in ten-thousandths.
    const std::string valueText(a.positional[2]);
    char* end = nullptr;
    const double value = valueText.empty() ? 0.0 : std::strtod(valueText.c_str(), &end);
    const double scaled = std::isfinite(value) ? std::round(value * 10000.0) : 0.0;
    if (valueText.empty() || *end != '\0' || !(scaled >= 1.0 && scaled <= 1e9))
        return usage_error("gamma", "VALUE is the exponent from 0.0001 to 100000 (1.0 unchanged, above 1 darker, "
                                    "below 1 brighter): '" + valueText + "'");
    LONG nGamma = static_cast<LONG>(scaled);
    const std::string in(a.positional[0]), out(a.positional[1]);
    LoadedImage img;
    if (int status = load_for_pixels("correct", in, &img); status != kExitOk)
        return status;
    if (!widen_unusual_masks(in, &img.dib)) {
        DIBFree(img.dib);
        return failure(in, "cannot correct: out of memory widening it to 24 bits");
    }
    ImageFacts f;
    image_facts(img.dib, &f);
    // The two-plane form is corrected with the reciprocal exponent; the
    // reciprocal argument makes VALUE mean the same on every image.
    if (f.completed.biPlanes == 2)
        nGamma = static_cast<LONG>(std::max(1L, std::lround(1e8 / static_cast<double>(nGamma))));
    // Every byte of a 32-bit pixel is corrected, the fourth too; where that
    // byte is alpha, the opacity is kept as it was.
    const bool keepAlpha = f.completed.biBitCount == 32 && f.completed.biPlanes == 1 && !f.cmyk &&
                           f.haveMasks && f.masks[3] == 0xFF000000u;
    std::vector<BYTE> alpha;
    BYTE* p = keepAlpha ? static_cast<BYTE*>(GlobalLock(img.dib)) : nullptr;
    const uint64_t rows = static_cast<uint64_t>(f.completed.biHeight), width = static_cast<uint64_t>(f.completed.biWidth);
    if (p) {
        alpha.reserve(rows * width);
        for (uint64_t y = 0; y < rows; ++y)
            for (uint64_t x = 0; x < width; ++x)
                alpha.push_back(p[f.pixelOffset + y * f.stride + 4 * x + 3]);
        GlobalUnlock(img.dib);
    }
    GammaCorrectionApplyToDIB(img.dib, nGamma, 0, 0, nullptr);
    if (p && (p = static_cast<BYTE*>(GlobalLock(img.dib)))) {
        for (uint64_t y = 0, i = 0; y < rows; ++y)
            for (uint64_t x = 0; x < width; ++x)
                p[f.pixelOffset + y * f.stride + 4 * x + 3] = alpha[i++];
        GlobalUnlock(img.dib);
    }
    char shown[32];
    std::snprintf(shown, sizeof shown, "%.4f", scaled / 10000.0);
    return save_and_report(out, img.dib,
                           std::to_string(f.completed.biWidth) + "x" + std::to_string(f.completed.biHeight) +
                               ", gamma " + shown,
                           "\"gamma\":" + std::string(shown) + ",\"nGamma\":" + std::to_string(static_cast<long>(scaled)));
}

}  // namespace kelm_cli
