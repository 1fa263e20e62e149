// The form of a loaded image as the commands need to know it: whether its
// pixels can be worked on, and how saving it changes the file it came from.
#pragma once

#include <string>
#include <vector>

#include "image_io.h"

namespace kelm_cli {

// Empty when the pixel API works on this image; otherwise why not, naming
// the form (compressed, top-down, depth, planes, header size).
std::string pixel_form_problem(HGLOBAL dib);

// What saving a loaded image to `outPath` changes compared with the file it
// was read from: RLE to uncompressed, top-down to bottom-up, OS/2 or other
// headers to the Windows ones, one format to another.
std::vector<std::string> form_changes(const StoredFile& from, HGLOBAL dib, const std::string& outPath);

}  // namespace kelm_cli
