// Export of barcode detection: the scan driver behind a guard, so that no
// exception (a callback's included, on platforms that unwind through it)
// leaves the library.
#include "barcode/barcode.h"
#include "exports/exports.h"

using namespace kelm;

extern "C" {

KELM3_API BOOL WINAPI DIBDetectBarCode(HGLOBAL hDIB, BarcodeCallback lpfnCallback, DWORD userData, LPSTR textBuffer,
                                       int textBufferSize, DWORD flags, DWORD /*reserved*/)
{
    return guarded<BOOL>(0, [&] {
        return detect_barcode(hDIB, lpfnCallback, userData, textBuffer, textBufferSize, flags);
    });
}

}  // extern "C"
