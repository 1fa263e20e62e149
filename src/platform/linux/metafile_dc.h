// Recording device contexts of the Linux metafile layer, and the hooks by
// which the GDI functions that also draw on ordinary DCs hand a recording DC
// over to it. Each hook is called before the GDI function looks at its DC.
#pragma once

#include <cstddef>

#include "kelm3_win32.h"

namespace kelm::meta {

bool is_recording_dc(HDC hdc);
HGDIOBJ record_select(HDC hdc, HGDIOBJ h);
// Called first by DeleteObject: records the deletion in every recording DC
// that holds the object, and deletes it when it is one of ours (fonts,
// objects created by playing records). True when it was ours.
bool forget_object(HGDIOBJ h);
BOOL record_window_org(HDC hdc, int x, int y, LPPOINT old);
BOOL record_polyline(HDC hdc, const POINT* apt, int cpt);
BOOL record_patblt(HDC hdc, int x, int y, int w, int h, DWORD rop);
int record_stretch_dib_bits(HDC hdc, int xDest, int yDest, int destWidth, int destHeight, int xSrc, int ySrc,
                            int srcWidth, int srcHeight, const void* bits, const BITMAPINFO* bmi, UINT usage,
                            DWORD rop);

}  // namespace kelm::meta

namespace kelm::testing {
// MessageBeep calls so far.
std::size_t message_beeps();
}
