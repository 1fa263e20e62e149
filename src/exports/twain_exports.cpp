// Exports of TWAIN acquisition. A null (or foreign) context gets the failure
// result of each function; nothing is called for it.
#include "exports/exports.h"
#include "twain/twain.h"

using namespace kelm;

extern "C" {

KELM3_API HANDLE WINAPI TWAINInitialize(HWND hWnd, LPCSTR appName)
{
    return guarded<HANDLE>(nullptr, [&] { return twain_initialize(hWnd, appName); });
}

KELM3_API BOOL WINAPI TWAINIsDSMOpen(HANDLE hContext)
{
    TwainContext* c = twain_context(hContext);
    return c ? c->dsmOpen : FALSE;
}

KELM3_API int WINAPI TWAINSelectDS(HANDLE hContext)
{
    TwainContext* c = twain_context(hContext);
    if (!c)
        return 0;
    return guarded<int>(0, [&] { return select_ds(*c); });
}

KELM3_API BOOL WINAPI TWAINTerminate(HANDLE hContext)
{
    if (!twain_context(hContext))
        return FALSE;
    return guarded<BOOL>(FALSE, [&] {
        twain_terminate(hContext);
        return TRUE;
    });
}

KELM3_API BOOL WINAPI TWAINAquire(HANDLE hContext)
{
    TwainContext* c = twain_context(hContext);
    if (!c)
        return FALSE;
    return guarded<BOOL>(FALSE, [&] { return aquire(*c); });
}

KELM3_API BOOL WINAPI TWAINAquireExt(HANDLE hContext, BOOL showUI, int bitDepth)
{
    TwainContext* c = twain_context(hContext);
    if (!c)
        return FALSE;
    return guarded<BOOL>(FALSE, [&] { return aquire_ext(*c, showUI, bitDepth); });
}

KELM3_API HGLOBAL WINAPI TWAINGetImage(BOOL showUI, int bitDepth)
{
    return guarded<HGLOBAL>(nullptr, [&] {
        HGLOBAL image = nullptr;
        return get_image_ext(showUI, bitDepth, &image, 1) != 0 ? image : nullptr;
    });
}

KELM3_API BOOL WINAPI TWAINIsTwainMessage(HANDLE hContext, LPMSG lpMsg, HWND hWnd)
{
    TwainContext* c = twain_context(hContext);
    if (!c || !lpMsg)
        return FALSE;
    return guarded<BOOL>(FALSE, [&] { return is_twain_message(*c, lpMsg, hWnd); });
}

KELM3_API BOOL WINAPI TWAINSetResolution(HANDLE hContext, LONG dpi, LONG /*reserved*/)
{
    TwainContext* c = twain_context(hContext);
    if (!c)
        return FALSE;
    return guarded<BOOL>(FALSE, [&] { return set_resolution(*c, dpi); });
}

KELM3_API BOOL WINAPI TWAINSetRect(HANDLE hContext, const RECT* lpRect, LONG /*reserved*/)
{
    TwainContext* c = twain_context(hContext);
    if (!c || !lpRect)
        return FALSE;
    return guarded<BOOL>(FALSE, [&] { return set_rect(*c, *lpRect); });
}

KELM3_API UINT WINAPI TWAINCallDS(HANDLE hContext, DWORD dg, WORD dat, WORD msg, LPVOID pData)
{
    TwainContext* c = twain_context(hContext);
    if (!c)
        return TWRC_FAILURE;
    return guarded<UINT>(TWRC_FAILURE, [&] { return static_cast<UINT>(call_ds(*c, dg, dat, msg, pData)); });
}

KELM3_API int WINAPI TWAINGetImageExt(BOOL showUI, int bitDepth, HGLOBAL* images, int capacity, LONG /*reserved*/)
{
    return guarded<int>(0, [&] { return get_image_ext(showUI, bitDepth, images, capacity); });
}

}  // extern "C"
