// BMP files as other programs write them, made into what the library reads.
#pragma once

#include <string>
#include <vector>

#include "byte_reader.h"
#include "image_io.h"

namespace kelm_cli {

struct BmpPrepared {
    Bytes forLibrary;        // the bytes to hand to LoadDIB
    std::string truncation;  // "truncated (expected N bytes, found M)" or empty
};

// Reads the headers of a BMP file (withFileHeader) or a bare packed DIB,
// fills `stored`, refuses by name what the library cannot hold (returns false
// with `reason`), and otherwise gives bytes the library reads: the file as it
// is when its header is one the library takes (12, 40 or 108 bytes), else a
// rebuilt file with a 40- or 108-byte header and the same masks, colour table
// and pixel bytes. Each conversion adds a line to `notes`.
bool prepare_bmp(const Bytes& file, bool withFileHeader, StoredFile* stored, BmpPrepared* out,
                 std::vector<std::string>* notes, std::string* reason);

}  // namespace kelm_cli
