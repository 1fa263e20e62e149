// Opening and closing of the pixel accessor record.
#include "pixel/pixel.h"

namespace kelm {

bool trdib_open(HGLOBAL hDib, TRDIB* rd)
{
    (void)hDib;
    (void)rd;
    return false;
}

void trdib_close(TRDIB* rd)
{
    if (rd && rd->hDib) {
        GlobalUnlock(rd->hDib);
        rd->hDib = nullptr;
    }
}

UINT nearest_colour(TRDIB* rd, DWORD colour)
{
    (void)rd;
    return colour;
}

}  // namespace kelm
