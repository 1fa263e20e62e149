// Drawing of the turned bitmap that replaces a stretched-bitmap record.
#pragma once

#include "metafile/metafile.h"

namespace kelm {

// Turns the packed DIB of `bytes` bytes at p by the matrix's angle (uncovered
// corners white) and draws it with StretchDIBBlt into the destination
// rectangle, from (0, 0) and the given source size. The turned image's
// biSizeImage is filled first: a metafile DC that finds it 0 may record no
// pixels. Nothing is drawn when the image cannot be read or turned, has no
// pixels (a width or height of 0 would still turn into a white box), or when
// the turned image would hold more than 20 times the record's pixels and
// more than 2^24 pixels (a long thin bitmap at an odd angle).
void draw_turned_dib(HDC target, const MetaMatrix& m, const uint8_t* p, uint64_t bytes, const RECT& dest,
                     int32_t srcWidth, int32_t srcHeight, DWORD rop);

// A movable global copy of a record, freed on every way out.
class RecordCopy {
public:
    RecordCopy(const uint8_t* p, size_t n);
    ~RecordCopy();
    RecordCopy(const RecordCopy&) = delete;
    RecordCopy& operator=(const RecordCopy&) = delete;
    uint8_t* data() const { return data_; }

private:
    HGLOBAL h_ = nullptr;
    uint8_t* data_ = nullptr;
};

}  // namespace kelm
