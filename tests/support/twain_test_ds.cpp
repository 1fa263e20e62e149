// A TWAIN data source for the tests: a DLL (installed as the Wine source
// manager's sane.ds) or a shared object (in the twain_32 folder of the Linux
// build's Windows directory) exporting DS_Entry. It scans a configurable
// number of generated images, cancels, refuses, asks to be closed or hands
// out bad handles on demand, and logs every call it receives so that tests
// see the triplets and the values exactly as a source gets them.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "kelm3.h"
#include "support/twain_model.h"

namespace tds = kelm_test::tds;

namespace {

std::string setting(const char* name)
{
#if defined(_WIN32)
    // getenv sees only a start-up copy; tests change settings at run time.
    char buf[512];
    DWORD n = GetEnvironmentVariableA(name, buf, sizeof buf);
    return n > 0 && n < sizeof buf ? std::string(buf, n) : std::string();
#else
    const char* v = std::getenv(name);
    return v ? v : "";
#endif
}

int setting_int(const char* name, int fallback)
{
    std::string v = setting(name);
    return v.empty() ? fallback : std::atoi(v.c_str());
}

// Whether the comma-separated list in KELM3_TDS_FAIL has `token` (and its
// ":value" in *value).
bool failing(const char* token, int* value = nullptr)
{
    std::string list = ",";
    list += setting(tds::kFail);
    list += ',';
    std::string t = token;
    std::string key = ",";
    key += t;
    std::string::size_type at = list.find(key);
    if (at == std::string::npos)
        return false;
    char next = list[at + 1 + t.size()];
    if (next != ',' && next != ':')
        return false;
    if (value)
        *value = next == ':' ? std::atoi(list.c_str() + at + 2 + t.size()) : 0;
    return true;
}

std::string xfer_kind(int index)
{
    std::string list = setting(tds::kXfers);
    int i = 0;
    std::string::size_type start = 0;
    while (start <= list.size() && !list.empty()) {
        std::string::size_type end = list.find(',', start);
        if (end == std::string::npos)
            end = list.size();
        if (i == index)
            return list.substr(start, end - start);
        ++i;
        start = end + 1;
    }
    return "ok";
}

void log_line(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, const std::string& rest = "")
{
    std::string path = setting(tds::kLog);
    if (path.empty())
        return;
    if (FILE* f = std::fopen(path.c_str(), "ab")) {
        std::fprintf(f, "%u %04x %04x %s\n", static_cast<unsigned>(dg), dat, msg, rest.c_str());
        std::fclose(f);
    }
}

struct State {
    bool open = false;
    bool enabled = false;
    TW_IDENTITY self{};
    TW_IDENTITY app{};
    DSMENTRYPROC dsm = nullptr;
    TW_UINT16 condition = TWCC_SUCCESS;
    int pixelType = -1;
    int pending = 0;
    int index = 0;
};
State g;

TW_UINT16 failure(TW_UINT16 cc)
{
    g.condition = cc;
    return TWRC_FAILURE;
}

DSMENTRYPROC find_dsm()
{
#if defined(_WIN32)
    // Wine's manager never sends DAT_ENTRYPOINT: find it by name.
    if (HMODULE m = GetModuleHandleA("twain_32.dll"))
        return reinterpret_cast<DSMENTRYPROC>(reinterpret_cast<void*>(GetProcAddress(m, "DSM_Entry")));
#endif
    return g.dsm;
}

int image_bits()
{
    int bits = setting_int(tds::kBits, 0);
    if (bits == 1 || bits == 8 || bits == 24)
        return bits;
    return g.pixelType == TWPT_BW ? 1 : g.pixelType == TWPT_GRAY ? 8 : 24;
}

HGLOBAL make_image(int n)
{
    int w = setting_int(tds::kWidth, 13), h = setting_int(tds::kHeight, 5), bits = image_bits();
    int colours = bits == 24 ? 0 : 1 << bits;
    std::size_t stride = ((static_cast<std::size_t>(w) * bits + 31) / 32) * 4;
    std::size_t size = 40 + 4 * colours + stride * h;
    HGLOBAL hDib = GlobalAlloc(GHND, size);
    auto* p = static_cast<BYTE*>(GlobalLock(hDib));
    if (!p) {
        GlobalFree(hDib);
        return nullptr;
    }
    BITMAPINFOHEADER bi{};
    bi.biSize = 40;
    bi.biWidth = w;
    bi.biHeight = h;
    bi.biPlanes = 1;
    bi.biBitCount = static_cast<WORD>(bits);
    bi.biSizeImage = static_cast<DWORD>(stride * h);
    bi.biXPelsPerMeter = tds::kSourcePelsPerMeter;
    bi.biYPelsPerMeter = tds::kSourcePelsPerMeter;
    std::memcpy(p, &bi, 40);
    BYTE* table = p + 40;
    for (int i = 0; i < colours; ++i) {
        BYTE v = static_cast<BYTE>(bits == 1 ? i * 255 : i);
        table[4 * i] = table[4 * i + 1] = table[4 * i + 2] = v;
    }
    BYTE* rows = table + 4 * colours;
    for (int y = 0; y < h; ++y) {
        BYTE* row = rows + stride * y;
        for (int x = 0; x < w; ++x) {
            if (bits == 24) {
                for (int c = 0; c < 3; ++c)
                    row[3 * x + c] = tds::sample(n, x, y, c);
            } else if (bits == 8) {
                row[x] = tds::sample(n, x, y, 0);
            } else if (tds::bit(n, x, y)) {
                row[x / 8] |= static_cast<BYTE>(0x80 >> (x % 8));
            }
        }
    }
    GlobalUnlock(hDib);
    return hDib;
}

std::string fix(TW_FIX32 f)
{
    return std::to_string(f.Whole) + ":" + std::to_string(f.Frac);
}

TW_UINT16 capability(TW_UINT16 msg, pTW_CAPABILITY cap)
{
    if (msg != MSG_SET || !cap)
        return failure(TWCC_BADPROTOCOL);
    TW_UINT16 type = 0;
    TW_UINT32 item = 0;
    SIZE_T size = GlobalSize(cap->hContainer);
    if (auto* p = static_cast<BYTE*>(GlobalLock(cap->hContainer))) {
        std::memcpy(&type, p, 2);
        std::memcpy(&item, p + 2, 4);
        GlobalUnlock(cap->hContainer);
    }
    char buf[96];
    std::snprintf(buf, sizeof buf, "cap=%04x con=%u size=%u type=%u item=%u", cap->Cap, cap->ConType,
                  static_cast<unsigned>(size), type, static_cast<unsigned>(item));
    log_line(DG_CONTROL, DAT_CAPABILITY, msg, buf);
    if ((cap->Cap == ICAP_PIXELTYPE && failing("pixeltype")) || (cap->Cap == ICAP_UNITS && failing("units")) ||
        (cap->Cap == ICAP_XRESOLUTION && failing("xres")) || (cap->Cap == ICAP_YRESOLUTION && failing("yres")))
        return failure(TWCC_BADVALUE);
    if (cap->Cap == ICAP_PIXELTYPE)
        g.pixelType = static_cast<int>(item);
    return TWRC_SUCCESS;
}

TW_UINT16 control(TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data)
{
    switch (dat) {
    case DAT_STATUS: {
        auto* status = static_cast<pTW_STATUS>(data);
        status->ConditionCode = g.condition;
        status->Reserved = 0;
        g.condition = TWCC_SUCCESS;
        return TWRC_SUCCESS;
    }
    case DAT_CAPABILITY:
        return capability(msg, static_cast<pTW_CAPABILITY>(data));
    case DAT_USERINTERFACE: {
        auto* ui = static_cast<pTW_USERINTERFACE>(data);
        char buf[64];
        std::snprintf(buf, sizeof buf, "showui=%u modalui=%u parent=%d", ui->ShowUI, ui->ModalUI,
                      ui->hParent ? 1 : 0);
        log_line(DG_CONTROL, dat, msg, buf);
        if (msg == MSG_DISABLEDS) {
            g.enabled = false;
            return TWRC_SUCCESS;
        }
        if (msg != MSG_ENABLEDS)
            return failure(TWCC_BADPROTOCOL);
        if (failing("enable"))
            return failure(TWCC_BUMMER);
        g.enabled = true;
        g.pending = setting_int(tds::kImages, 1);
        g.index = 0;
        std::string how = setting(tds::kEnable);
        TW_UINT16 announce = how == "closereq" ? MSG_CLOSEDSREQ : MSG_XFERREADY;
        if (how != "none") {
            if (DSMENTRYPROC dsm = find_dsm())
                dsm(&g.self, &g.app, DG_CONTROL, DAT_NULL, announce, nullptr);
        }
        return TWRC_SUCCESS;
    }
    case DAT_EVENT:
        if (auto* event = static_cast<pTW_EVENT>(data))
            event->TWMessage = MSG_NULL;
        return TWRC_NOTDSEVENT;
    case DAT_PENDINGXFERS: {
        auto* pending = static_cast<pTW_PENDINGXFERS>(data);
        log_line(DG_CONTROL, dat, msg);
        if (msg == MSG_ENDXFER) {
            if (failing("endxfer"))
                return failure(TWCC_SEQERROR);
            if (g.pending > 0)
                --g.pending;
        } else if (msg == MSG_RESET) {
            g.pending = 0;
        }
        pending->Count = static_cast<TW_UINT16>(g.pending);
        pending->EOJ = 0;
        return TWRC_SUCCESS;
    }
    default:
        return failure(TWCC_BADPROTOCOL);
    }
}

TW_UINT16 image(TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data)
{
    switch (dat) {
    case DAT_IMAGEINFO: {
        log_line(DG_IMAGE, dat, msg);
        if (failing("imageinfo"))
            return failure(TWCC_BUMMER);
        auto* info = static_cast<pTW_IMAGEINFO>(data);
        std::memset(info, 0, sizeof *info);
        info->XResolution.Whole = static_cast<TW_INT16>(setting_int(tds::kXRes, 300));
        info->YResolution.Whole = static_cast<TW_INT16>(setting_int(tds::kYRes, 300));
        info->ImageWidth = setting_int(tds::kWidth, 13);
        info->ImageLength = setting_int(tds::kHeight, 5);
        int bits = image_bits();
        info->SamplesPerPixel = bits == 24 ? 3 : 1;
        for (int i = 0; i < info->SamplesPerPixel; ++i)
            info->BitsPerSample[i] = static_cast<TW_INT16>(bits == 24 ? 8 : bits);
        info->BitsPerPixel = static_cast<TW_INT16>(bits);
        info->PixelType = static_cast<TW_INT16>(bits == 1 ? TWPT_BW : bits == 8 ? TWPT_GRAY : TWPT_RGB);
        return TWRC_SUCCESS;
    }
    case DAT_IMAGELAYOUT: {
        auto* layout = static_cast<pTW_IMAGELAYOUT>(data);
        char buf[160];
        std::snprintf(buf, sizeof buf, "frame=%s,%s,%s,%s doc=%08x page=%08x frameno=%08x",
                      fix(layout->Frame.Left).c_str(), fix(layout->Frame.Top).c_str(),
                      fix(layout->Frame.Right).c_str(), fix(layout->Frame.Bottom).c_str(),
                      static_cast<unsigned>(layout->DocumentNumber), static_cast<unsigned>(layout->PageNumber),
                      static_cast<unsigned>(layout->FrameNumber));
        log_line(DG_IMAGE, dat, msg, buf);
        if (failing("layout"))
            return failure(TWCC_BADVALUE);
        return TWRC_SUCCESS;
    }
    case DAT_IMAGENATIVEXFER: {
        auto* handle = static_cast<TW_HANDLE*>(data);
        int n = g.index++;
        std::string kind = xfer_kind(n);
        log_line(DG_IMAGE, dat, msg, kind);
        if (kind == "cancel")
            return TWRC_CANCEL;
        if (kind == "fail")
            return failure(TWCC_BUMMER);
        if (kind == "low") {
            *handle = reinterpret_cast<TW_HANDLE>(static_cast<UINT_PTR>(5));
            return TWRC_XFERDONE;
        }
        if (kind == "baddib") {
            // A core header (12 bytes) where a 40-byte one is expected.
            HGLOBAL h = GlobalAlloc(GHND, 64);
            if (auto* p = static_cast<BYTE*>(GlobalLock(h))) {
                p[0] = 12;
                for (int i = 4; i < 64; ++i)
                    p[i] = static_cast<BYTE>(i);
                GlobalUnlock(h);
            }
            *handle = h;
            return TWRC_XFERDONE;
        }
        HGLOBAL h = make_image(n);
        if (!h)
            return failure(TWCC_LOWMEMORY);
        *handle = h;
        return TWRC_XFERDONE;
    }
    default:
        return failure(TWCC_BADPROTOCOL);
    }
}

}  // namespace

extern "C"
#if defined(_WIN32)
    __declspec(dllexport)
#else
    __attribute__((visibility("default")))
#endif
        TW_UINT16 KELM3_TW_CALL DS_Entry(pTW_IDENTITY pOrigin, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg,
                                         TW_MEMREF pData)
{
    if (dg == DG_CONTROL && dat == DAT_IDENTITY) {
        auto* id = static_cast<pTW_IDENTITY>(pData);
        if (msg == MSG_GET) {
            TW_UINT32 keep = id->Id;
            std::memset(id, 0, sizeof *id);
            id->Id = keep;
            id->Version.MajorNum = 1;
            id->Version.Language = TWLG_USA;
            id->Version.Country = TWCY_USA;
            std::strcpy(id->Version.Info, "test");
            id->ProtocolMajor = 1;
            id->ProtocolMinor = 8;
            id->SupportedGroups = DG_CONTROL | DG_IMAGE;
            std::strcpy(id->Manufacturer, "kelm3 tests");
            std::strcpy(id->ProductFamily, "test");
            std::strcpy(id->ProductName, tds::kProductName);
            return TWRC_SUCCESS;
        }
        if (msg == MSG_OPENDS) {
            std::string app = pOrigin ? std::string(pOrigin->ProductName) + "|" + pOrigin->Version.Info +
                                            "|" + pOrigin->Manufacturer + "|" + pOrigin->ProductFamily
                                      : "";
            log_line(dg, dat, msg, app);
            int cc = 0;
            if (failing("open", &cc))
                return failure(static_cast<TW_UINT16>(cc));
            // The manager keeps the module loaded: every open starts afresh.
            DSMENTRYPROC keep = g.dsm;
            g = State{};
            g.dsm = keep;
            g.open = true;
            g.self = *id;
            if (pOrigin)
                g.app = *pOrigin;
            return TWRC_SUCCESS;
        }
        if (msg == MSG_CLOSEDS) {
            log_line(dg, dat, msg);
            g.open = false;
            g.enabled = false;
            return TWRC_SUCCESS;
        }
        return failure(TWCC_BADPROTOCOL);
    }
    if (dg == DG_CONTROL && dat == DAT_ENTRYPOINT && msg == MSG_SET) {
        g.dsm = static_cast<pTW_ENTRYPOINT>(pData)->DSM_Entry;
        return TWRC_SUCCESS;
    }
    // The status answers even when closed: a failed open asks for it.
    if (!g.open && !(dg == DG_CONTROL && dat == DAT_STATUS))
        return failure(TWCC_SEQERROR);
    if (dg == DG_CONTROL)
        return control(dat, msg, pData);
    if (dg == DG_IMAGE)
        return image(dat, msg, pData);
    return failure(TWCC_BADPROTOCOL);
}
