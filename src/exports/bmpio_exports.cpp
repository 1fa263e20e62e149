// Exports of BMP input and output: loading from streams, files and
// resources, RLE decoding, and saving.
#include "bmpio/bmpio.h"
#include "exports/exports.h"

using namespace kelm;

extern "C" {

KELM3_API HGLOBAL WINAPI DIBFromRle(HGLOBAL hDib)
{
    if (!hDib)
        return nullptr;
    return guarded<HGLOBAL>(nullptr, [&] { return dib_from_rle(hDib); });
}

KELM3_API HGLOBAL WINAPI LoadDIB(HMMIO hmmio)
{
    if (!hmmio)
        return nullptr;
    return guarded<HGLOBAL>(nullptr, [&] { return load_dib(hmmio); });
}

KELM3_API HGLOBAL WINAPI LoadDIBFromFile(LPCSTR lpszFileName)
{
    if (!lpszFileName || !*lpszFileName)
        return nullptr;
    return guarded<HGLOBAL>(nullptr, [&] { return load_dib_from_file(lpszFileName); });
}

KELM3_API HGLOBAL WINAPI LoadDIBResource(HINSTANCE hInstance, LPCSTR lpszName)
{
    if (!lpszName)
        return nullptr;
    return guarded<HGLOBAL>(nullptr, [&] { return load_dib_resource(hInstance, lpszName); });
}

KELM3_API BOOL WINAPI SaveDIB(HMMIO hmmio, HGLOBAL hDib)
{
    if (!hmmio || !hDib)
        return FALSE;
    return guarded<BOOL>(FALSE, [&] { return save_dib(hmmio, hDib); });
}

KELM3_API BOOL WINAPI SaveDIBToFile(LPCSTR lpszFileName, HGLOBAL hDib)
{
    if (!lpszFileName || !*lpszFileName || !hDib)
        return FALSE;
    return guarded<BOOL>(FALSE, [&] { return save_dib_to_file(lpszFileName, hDib); });
}

}  // extern "C"
