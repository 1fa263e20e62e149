// The TWAIN context: application identity, loading and opening the source
// manager, opening, closing and selecting the source, and the error box. The
// DSM_Entry calls, their arguments and the reaction to each return code follow
// TWAIN's application protocol; nothing is retried.
#include <cstring>

#include "twain/twain.h"

namespace kelm {

namespace {

// TW_STR32 holds 33 characters and the terminator; longer names are cut so
// that nothing is written past the field.
void copy_str32(TW_STR32& field, const char* text)
{
    std::memset(field, 0, sizeof field);
    if (!text)
        return;
    std::size_t n = 0;
    while (n < sizeof field - 1 && text[n])
        ++n;
    std::memcpy(field, text, n);
}

}  // namespace

TwainContext* twain_context(HANDLE hContext)
{
    if (!hContext)
        return nullptr;
    // A fixed block: the pointer stays valid without holding a lock.
    auto* p = static_cast<TwainContext*>(LocalLock(hContext));
    if (p)
        LocalUnlock(hContext);
    return p;
}

HANDLE twain_initialize(HWND hWnd, const char* appName)
{
    HLOCAL h = LocalAlloc(LPTR, sizeof(TwainContext));
    if (!h)
        return nullptr;
    TwainContext* c = twain_context(h);
    if (!c) {
        LocalFree(h);
        return nullptr;
    }
    c->hWnd = hWnd;
    TW_IDENTITY& id = c->appID;
    id.Id = 0;
    id.Version.MajorNum = 1;
    id.Version.MinorNum = 0;
    id.Version.Language = TWLG_USA;
    id.Version.Country = TWCY_USA;
    copy_str32(id.Version.Info, appName);
    id.ProtocolMajor = TWON_PROTOCOLMAJOR;
    id.ProtocolMinor = TWON_PROTOCOLMINOR;
    id.SupportedGroups = DG_CONTROL | DG_IMAGE;
    copy_str32(id.Manufacturer, "Quil Software Development");
    copy_str32(id.ProductFamily, "Tolvara");
    copy_str32(id.ProductName, appName);
    return h;
}

void twain_terminate(HANDLE hContext)
{
    if (TwainContext* c = twain_context(hContext)) {
        close_ds(*c);
        // The record holds the only connection to the manager: left open, it
        // could never be closed, and a manager that serves one application
        // at a time (Wine's) would refuse every later MSG_OPENDSM of the
        // process. A failed close keeps its error box and the record goes.
        if (!c->dsOpen)
            close_dsm(*c);
        LocalFree(hContext);
    }
}

TW_UINT16 call_dsm(TwainContext& c, pTW_IDENTITY dest, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data)
{
    if (!c.lpDSM_Entry)
        return TWRC_FAILURE;
    return c.lpDSM_Entry(&c.appID, dest, dg, dat, msg, data);
}

int report_twain_error(TwainContext& c, UINT id)
{
    UINT text_id = id;
    if (id == 0) {
        if (!c.lpDSM_Entry) {
            text_id = IDS_NO_DSM;
        } else {
            TW_STATUS status{};
            if (call_dsm(c, nullptr, DG_CONTROL, DAT_STATUS, MSG_GET, &status) != TWRC_SUCCESS) {
                text_id = IDS_NO_STATUS;
            } else {
                switch (status.ConditionCode) {
                case TWCC_SUCCESS: text_id = IDS_STATUS_SUCCESS; break;
                case TWCC_BUMMER: text_id = IDS_BUMMER; break;
                case TWCC_LOWMEMORY: text_id = IDS_LOW_MEMORY; break;
                case TWCC_NODS: text_id = IDS_NO_DS; break;
                case TWCC_MAXCONNECTIONS: text_id = IDS_MAX_CONNECTIONS; break;
                // The source has told the user already.
                case TWCC_OPERATIONERROR: return 0;
                case TWCC_BADCAP: text_id = IDS_BAD_CAP; break;
                case TWCC_BADPROTOCOL: text_id = IDS_BAD_PROTOCOL; break;
                case TWCC_BADVALUE: text_id = IDS_BAD_VALUE; break;
                case TWCC_SEQERROR: text_id = IDS_SEQ_ERROR; break;
                default: text_id = IDS_UNKNOWN_CC; break;
                }
            }
        }
    }
    char text[255];
    if (LoadStringA(static_cast<HINSTANCE>(g_state.hInstance), text_id, text, sizeof text) <= 0)
        std::strcpy(text, "No error desciption available");
    return MessageBoxA(c.hWnd, text, "TWAIN Error", MB_OK | MB_ICONERROR);
}

int open_dsm(TwainContext& c)
{
    if (c.dsmOpen)
        return 1;
    char path[MAX_PATH + 16];
    UINT n = GetWindowsDirectoryA(path, MAX_PATH);
    if (n > 0 && n < MAX_PATH) {
        std::strcpy(path + n, "\\TWAIN_32.DLL");
        OFSTRUCT of{};
        if (OpenFile(path, &of, OF_EXIST) != HFILE_ERROR) {
            HMODULE h = LoadLibraryA(path);
            if (h) {
                c.hDSMDLL = h;
                auto entry = reinterpret_cast<DSMENTRYPROC>(reinterpret_cast<void*>(GetProcAddress(h, "DSM_Entry")));
                if (entry) {
                    c.lpDSM_Entry = entry;
                    if (call_dsm(c, nullptr, DG_CONTROL, DAT_PARENT, MSG_OPENDSM, &c.hWnd) == TWRC_SUCCESS) {
                        c.dsmOpen = 1;
                        return 1;
                    }
                    c.dsmOpen = 0;
                }
            }
        }
    }
    report_twain_error(c, 0);
    return c.dsmOpen;
}

int close_dsm(TwainContext& c)
{
    if (!c.dsmOpen)
        return 0;
    if (call_dsm(c, nullptr, DG_CONTROL, DAT_PARENT, MSG_CLOSEDSM, &c.hWnd) != TWRC_SUCCESS) {
        report_twain_error(c, IDS_ERR_CLOSEDSM);
        return c.dsmOpen;
    }
    c.dsmOpen = 0;
    if (reinterpret_cast<UINT_PTR>(c.hDSMDLL) > 32) {
        FreeLibrary(c.hDSMDLL);
        c.hDSMDLL = nullptr;
        // The entry point went with the library: a later error box must not
        // ask an unloaded manager for its status.
        c.lpDSM_Entry = nullptr;
    }
    return c.dsmOpen;
}

int open_ds(TwainContext& c)
{
    if (c.dsOpen)
        return c.dsOpen;
    if (call_dsm(c, nullptr, DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &c.dsID) != TWRC_SUCCESS) {
        report_twain_error(c, 0);
        return 0;
    }
    c.dsOpen = 1;
    TW_USERINTERFACE ui{};
    ui.ShowUI = 0;
    ui.ModalUI = 0;
    ui.hParent = c.hWnd;
    call_dsm(c, &c.dsID, DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui);
    return 1;
}

void close_ds(TwainContext& c)
{
    if (c.dsOpen != 1)
        return;
    if (call_dsm(c, nullptr, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &c.dsID) != TWRC_SUCCESS) {
        report_twain_error(c, IDS_ERR_CLOSEDS);
        return;
    }
    c.dsOpen = 0;
    // The next open takes the manager's default source again.
    c.dsID.Id = 0;
    c.dsID.ProductName[0] = '\0';
}

void disable_ds(TwainContext& c)
{
    if (c.dsOpen != 1)
        return;
    TW_USERINTERFACE ui{};
    ui.hParent = c.hWnd;
    if (call_dsm(c, &c.dsID, DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui) != TWRC_SUCCESS)
        report_twain_error(c, IDS_ERR_DISABLE);
}

void shutdown(TwainContext& c)
{
    disable_ds(c);
    close_ds(c);
    close_dsm(c);
}

int select_ds(TwainContext& c)
{
    if (!open_dsm(c))
        return 0;
    TW_IDENTITY scratch{};
    call_dsm(c, nullptr, DG_CONTROL, DAT_IDENTITY, MSG_GETDEFAULT, &scratch);
    TW_UINT16 rc = call_dsm(c, nullptr, DG_CONTROL, DAT_IDENTITY, MSG_USERSELECT, &scratch);
    if (rc == TWRC_SUCCESS)
        std::memcpy(&c.dsID, &scratch, sizeof scratch);
    else if (rc != TWRC_CANCEL)
        report_twain_error(c, IDS_ERR_ACCESS);
    return rc;
}

}  // namespace kelm
