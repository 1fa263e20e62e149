// PNG files in and out, through libspng.
#pragma once

#include <string>
#include <vector>

#include "byte_reader.h"
#include "image_io.h"

namespace kelm_cli {

// A new image from a PNG file: grey and palette images at 1, 2, 4 and 8 bits
// become 1-, 4- and 8-bit images with their colour table (2-bit samples in
// 4-bit pixels), RGB 24 bits, RGBA (and grey with alpha) 32 bits with an
// alpha mask in a 108-byte header; 16-bit grey, RGB and RGBA become the
// two-plane 8-, 24- and 32-bit forms, sample for sample. NULL with `reason`.
HGLOBAL png_decode(const Bytes& file, StoredFile* stored, std::vector<std::string>* notes, std::string* reason);

// The PNG file of an image, the inverse of png_decode: a table that is the
// grey ramp of 2, 4, 16 or 256 levels gives a grey PNG, another table an
// indexed PNG of the smallest depth that holds it, 16-, 24- and 32-bit images
// RGB (RGBA when a 108-byte header gives an alpha mask), the two-plane forms
// 16-bit grey, RGB and RGBA.
bool png_encode(HGLOBAL dib, Bytes* out, std::vector<std::string>* notes, std::string* reason);

}  // namespace kelm_cli
