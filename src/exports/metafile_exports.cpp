// Exports of metafile rotation.
#include "exports/exports.h"
#include "metafile/metafile.h"

using namespace kelm;

extern "C" {

KELM3_API void WINAPI GetMetaFileWindowExt(HMETAFILE hMF, LPSIZE extent, LPPOINT origin, LPLONG mapMode)
{
    guarded_void([&] {
        LONG ext[2], org[2], mode;
        get_metafile_window_ext(hMF, ext, org, &mode);
        if (extent) {
            extent->cx = ext[0];
            extent->cy = ext[1];
        }
        if (origin) {
            origin->x = org[0];
            origin->y = org[1];
        }
        if (mapMode)
            *mapMode = mode;
    });
}

KELM3_API HMETAFILE WINAPI RotateMetaFile(HMETAFILE hMF, LONG angle, LPLONG points)
{
    return guarded<HMETAFILE>(nullptr, [&] { return rotate_metafile(hMF, angle, points); });
}

KELM3_API HENHMETAFILE WINAPI RotateEnhMetaFile(HENHMETAFILE hEMF, LONG angle)
{
    return guarded<HENHMETAFILE>(nullptr, [&] { return rotate_enh_metafile(hEMF, angle); });
}

}  // extern "C"
