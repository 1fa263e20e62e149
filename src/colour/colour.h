// Colour operations shared across the library.
#pragma once

#include "platform/platform.h"

namespace kelm {

// Converts the four stored bytes of a CMYK pixel (255 - blue, 255 - green,
// 255 - red, black) to blue, green, red, written to dst[0..2]. dst may be src.
void cmyk_pixel_to_rgb(const BYTE* src, BYTE* dst);

// Converts a locked 32-bit CMYK image to RGB in place and marks it RGB.
void dib_cmyk_to_rgb(void* lpbi);

}  // namespace kelm
