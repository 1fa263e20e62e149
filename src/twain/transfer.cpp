// Capabilities, enabling the source, routing messages through it, and the
// native transfers of a batch, each image handed to the application window as
// a packed DIB with WM_TWAIN_NOTIFY.
#include <cmath>
#include <cstdint>
#include <cstring>

#include "twain/twain.h"

namespace kelm {

int set_one_value(TwainContext& c, TW_UINT16 cap, TW_UINT16 itemType, TW_UINT32 value)
{
    // TW_ONEVALUE as the source reads it: ItemType at 0, Item at 2 (6 bytes).
    HGLOBAL h = GlobalAlloc(GHND, 6);
    if (!h)
        return 0;
    auto* p = static_cast<BYTE*>(GlobalLock(h));
    if (!p) {
        GlobalFree(h);
        return 0;
    }
    std::memcpy(p, &itemType, 2);
    std::memcpy(p + 2, &value, 4);
    GlobalUnlock(h);
    TW_CAPABILITY capability{};
    capability.Cap = cap;
    capability.ConType = TWON_ONEVALUE;
    capability.hContainer = h;
    TW_UINT16 rc = call_dsm(c, &c.dsID, DG_CONTROL, DAT_CAPABILITY, MSG_SET, &capability);
    GlobalFree(h);
    return rc == TWRC_SUCCESS ? 1 : 0;
}

int enable_ds(TwainContext& c, BOOL showUI, int bitDepth)
{
    if (c.dsOpen != 1)
        return 0;
    if (bitDepth != 0) {
        TW_UINT16 type = bitDepth == 1 ? TWPT_BW : bitDepth == 8 ? TWPT_GRAY : TWPT_RGB;
        if (!set_one_value(c, ICAP_PIXELTYPE, TWTY_UINT16, type))
            report_twain_error(c, IDS_ERR_PIXELTYPE);
    }
    TW_USERINTERFACE ui{};
    ui.ShowUI = static_cast<TW_BOOL>(showUI);  // a 16-bit TWAIN boolean
    ui.ModalUI = 0;
    ui.hParent = c.hWnd;
    if (call_dsm(c, &c.dsID, DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui) == TWRC_SUCCESS)
        return 1;
    report_twain_error(c, IDS_ERR_ENABLE);
    return 0;
}

int aquire(TwainContext& c)
{
    if (!open_dsm(c))
        return 0;
    // Back to the default source, unless one is open: its identity is what
    // the manager knows it by.
    if (!c.dsOpen) {
        c.dsID.Id = 0;
        c.dsID.ProductName[0] = '\0';
    }
    if (!open_ds(c))
        return 0;
    if (enable_ds(c, 1, 0))
        return 1;
    close_ds(c);
    return 0;
}

int aquire_ext(TwainContext& c, BOOL showUI, int bitDepth)
{
    if (!open_dsm(c))
        return 0;
    if (!open_ds(c))
        return 0;
    if (!enable_ds(c, showUI, bitDepth))
        close_ds(c);
    return c.dsmOpen && c.dsOpen ? 1 : 0;
}

bool patch_resolution(HGLOBAL hDib, const TW_IMAGEINFO& info)
{
    // The handle comes from the source: only a block that is large enough for
    // a BITMAPINFOHEADER, locks, and says it has one is written to.
    if (GlobalSize(hDib) < sizeof(BITMAPINFOHEADER))
        return false;
    auto* p = static_cast<BYTE*>(GlobalLock(hDib));
    if (!p)
        return false;
    BITMAPINFOHEADER bi;
    std::memcpy(&bi, p, sizeof bi);
    bool ok = bi.biSize == sizeof(BITMAPINFOHEADER);
    if (ok) {
        if (info.XResolution.Whole != 0)
            bi.biXPelsPerMeter = MulDiv(info.XResolution.Whole, 10000, 254);
        if (info.YResolution.Whole != 0)
            bi.biYPelsPerMeter = MulDiv(info.YResolution.Whole, 10000, 254);
        std::memcpy(p, &bi, sizeof bi);
    }
    GlobalUnlock(hDib);
    return ok;
}

namespace {

TW_UINT16 transfer_one(TwainContext& c, HWND hWnd, const TW_IMAGEINFO& info)
{
    // The native transfer writes a handle, pointer-sized on 64 bits.
    TW_HANDLE hDib = nullptr;
    TW_UINT16 rc = call_dsm(c, &c.dsID, DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &hDib);
    if (rc != TWRC_XFERDONE) {
        SendMessageA(hWnd, WM_TWAIN_NOTIFY, 0, 1);
        return rc;
    }
    if (reinterpret_cast<UINT_PTR>(hDib) < 32) {
        SendMessageA(hWnd, WM_TWAIN_NOTIFY, 0, 0);
        return rc;
    }
    patch_resolution(hDib, info);
    SendMessageA(hWnd, WM_TWAIN_NOTIFY, reinterpret_cast<WPARAM>(hDib), 0);
    return rc;
}

void run_batch(TwainContext& c, HWND hWnd)
{
    TW_PENDINGXFERS pending{};
    pending.Count = 0;
    set_one_value(c, ICAP_UNITS, TWTY_UINT16, TWUN_INCHES);
    TW_IMAGEINFO info{};
    if (call_dsm(c, &c.dsID, DG_IMAGE, DAT_IMAGEINFO, MSG_GET, &info) != TWRC_SUCCESS)
        return;
    TW_UINT16 rc;
    do {
        rc = transfer_one(c, hWnd, info);
        if (call_dsm(c, &c.dsID, DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &pending) != TWRC_SUCCESS)
            pending.Count = 0;
    } while (pending.Count != 0 && rc == TWRC_XFERDONE);
    if (SendMessageA(hWnd, WM_TWAIN_NOTIFY, 0, 2) == 0)
        shutdown(c);
}

}  // namespace

int is_twain_message(TwainContext& c, MSG* msg, HWND hWnd)
{
    if (!c.dsmOpen || !c.dsOpen)
        return 0;
    TW_EVENT event{};
    event.pEvent = msg;
    event.TWMessage = MSG_NULL;
    TW_UINT16 rc = call_dsm(c, &c.dsID, DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &event);
    if (event.TWMessage == MSG_XFERREADY)
        run_batch(c, hWnd);
    else if (event.TWMessage == MSG_CLOSEDSREQ)
        shutdown(c);
    return rc == TWRC_DSEVENT ? 1 : 0;
}

int set_resolution(TwainContext& c, LONG dpi)
{
    if (!open_dsm(c) || !open_ds(c))
        return 0;
    if (!set_one_value(c, ICAP_UNITS, TWTY_UINT16, TWUN_INCHES))
        return 0;
    if (!set_one_value(c, ICAP_XRESOLUTION, TWTY_FIX32, static_cast<TW_UINT32>(dpi)))
        return 0;
    if (!set_one_value(c, ICAP_YRESOLUTION, TWTY_FIX32, static_cast<TW_UINT32>(dpi)))
        return 0;
    return 1;
}

TW_FIX32 to_fix32(double value)
{
    double scaled = value * 65536.0 + 0.5;
    // Truncated toward zero; a value beyond 32 bits keeps its low 32 bits
    // (twips never get there: 2^31 twips are 1.5 million inches).
    int64_t wide = std::fabs(scaled) < 9.0e18 ? static_cast<int64_t>(scaled) : 0;
    int32_t v = static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(wide)));
    TW_FIX32 fix;
    fix.Whole = static_cast<TW_INT16>(v >> 16);
    fix.Frac = static_cast<TW_UINT16>(v & 0xFFFF);
    return fix;
}

int set_rect(TwainContext& c, const RECT& rect)
{
    if (!open_dsm(c) || !open_ds(c))
        return 0;
    if (!set_one_value(c, ICAP_UNITS, TWTY_UINT16, TWUN_INCHES))
        return 0;
    const double twip = 1.0 / 1440.0;
    TW_IMAGELAYOUT layout{};
    layout.Frame.Left = to_fix32(rect.left * twip);
    layout.Frame.Top = to_fix32(rect.top * twip);
    layout.Frame.Right = to_fix32(rect.right * twip);
    layout.Frame.Bottom = to_fix32(rect.bottom * twip);
    layout.DocumentNumber = TWON_DONTCARE32;
    layout.PageNumber = TWON_DONTCARE32;
    layout.FrameNumber = TWON_DONTCARE32;
    if (call_dsm(c, &c.dsID, DG_IMAGE, DAT_IMAGELAYOUT, MSG_SET, &layout) != TWRC_SUCCESS) {
        report_twain_error(c, IDS_ERR_IMAGELAYOUT);
        return 0;
    }
    return 1;
}

TW_UINT16 call_ds(TwainContext& c, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data)
{
    if (!open_dsm(c) || !open_ds(c))
        return TWRC_FAILURE;
    return call_dsm(c, &c.dsID, dg, dat, msg, data);
}

}  // namespace kelm
