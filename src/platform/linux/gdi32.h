// The graphics parts of our Win32 subset that applications do not get from
// kelm3_win32.h: the hooks through which tests watch the objects the device
// functions create and the vertices they draw.
#pragma once

#include <cstddef>
#include <vector>

#include "kelm3_win32.h"

namespace kelm::testing {

// GDI objects (DCs, bitmaps, palettes, brushes, pens) created and not yet
// deleted or released; stock objects and the screen are not counted.
std::size_t live_gdi_objects();
// The device-unit vertices of the last Polyline call on any DC.
std::vector<POINT> last_polyline();
// The cursor SetCursor was last given (NULL at start).
HCURSOR current_cursor();

}  // namespace kelm::testing
