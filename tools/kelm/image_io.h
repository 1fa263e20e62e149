// The tool's file-format edge. Commands load and save images through these
// two calls and never look at file bytes: this module reads BMP files in
// every header variant (turning those the library does not take into ones
// it does), PNG files, standard input, and says precisely why a file cannot
// be read.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "kelm3.h"

namespace kelm_cli {

enum class FileFormat { Bmp, PackedDib, Png };
const char* format_name(FileFormat f);  // "BMP", "DIB", "PNG"

// What the file held, before any conversion: for `info`, and for saying how
// saving changes a file's form.
struct StoredFile {
    FileFormat format = FileFormat::Bmp;
    uint64_t fileSize = 0;
    // BMP and packed DIB
    bool fileHeader = false;
    uint32_t bfSize = 0, bfOffBits = 0;
    uint32_t headerSize = 0;
    std::string headerKind;  // "OS/2 core", "Windows", "V2" (52), "V3" (56), "V4", "V5", "OS/2 2.x"
    bool core = false;       // 12-byte header: only width, height, planes and bit count exist
    bool os2 = false;        // an OS/2 header, core or 2.x
    BITMAPINFOHEADER bi{};   // the stored fields, a core header's widened
    bool haveMasks = false;  // masks given in or after the header
    uint32_t masks[4] = {};  // red, green, blue, alpha
    // PNG
    unsigned pngBitDepth = 0, pngColourType = 0;
    bool pngInterlaced = false;
};

struct LoadedImage {
    HGLOBAL dib = nullptr;
    StoredFile stored;
    std::vector<std::string> notes;     // conversions made on the way in
    std::vector<std::string> warnings;  // the file is damaged but loaded
};

// Loads FILE, or standard input for "-". On failure returns false with the
// cause in `reason` (no such file, a directory, an empty file, a PNG, JPEG,
// GIF or TIFF file where a BMP was needed, an unreadable header size, an
// unsupported width, height, depth or compression, truncation).
bool load_image(const std::string& path, LoadedImage* out, std::string* reason);

// Saves an image: PNG when the name ends in ".png" (any case), BMP otherwise
// and for "-" (standard output). Files are replaced safely (safe_write.h).
// `notes` receives what the output format could not keep.
bool save_image(const std::string& path, HGLOBAL dib, std::vector<std::string>* notes, std::string* reason);

// Whether `path` selects PNG output.
bool wants_png(const std::string& path);

}  // namespace kelm_cli
