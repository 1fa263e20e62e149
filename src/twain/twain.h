// TWAIN acquisition: the library acts as a TWAIN application. The context
// record carries the application and source identities and the two flags by
// which the library tracks the TWAIN state; every interaction with the source
// manager is one DSM_Entry call, whose sequence and arguments are fixed.
#pragma once

#include "platform/platform.h"
#include "kelm3_twain.h"

namespace kelm {

// One per TWAINInitialize, in zero-filled fixed local memory; the handle is
// the caller's until TWAINTerminate.
struct TwainContext {
    DSMENTRYPROC lpDSM_Entry;  // DSM_Entry of the loaded manager, or null
    TW_IDENTITY appID;         // origin of every call
    TW_IDENTITY dsID;          // source to open; all zero = the default source
    HWND hWnd;                 // parent of the manager and source, owner of boxes
    int dsmOpen;               // 1 after MSG_OPENDSM succeeded
    int dsOpen;                // 1 after MSG_OPENDS succeeded
    HMODULE hDSMDLL;           // the loaded manager, or null
};

// The string ids of the error boxes.
enum : UINT {
    IDS_NO_DSM = 13016,
    IDS_NO_DS = 13017,
    IDS_LOW_MEMORY = 13018,
    IDS_MAX_CONNECTIONS = 13019,
    IDS_BUMMER = 13020,
    IDS_BAD_CAP = 13021,
    IDS_BAD_PROTOCOL = 13022,
    IDS_BAD_VALUE = 13023,
    IDS_SEQ_ERROR = 13025,
    IDS_STATUS_SUCCESS = 13026,
    IDS_NO_STATUS = 13027,
    IDS_UNKNOWN_CC = 13028,
    IDS_ERR_IMAGELAYOUT = 13101,
    IDS_ERR_PIXELTYPE = 13102,
    IDS_ERR_DISABLE = 13103,
    IDS_ERR_CLOSEDSM = 13104,
    IDS_ERR_CLOSEDS = 13105,
    IDS_ERR_ENABLE = 13106,
    IDS_ERR_ACCESS = 13107,
};

// The record behind a context handle, or null for a null or foreign handle.
TwainContext* twain_context(HANDLE hContext);

HANDLE twain_initialize(HWND hWnd, const char* appName);
void twain_terminate(HANDLE hContext);

// Part of the context operations that TWAIN exports share; each returns the
// flag or result the context keeps.
int open_dsm(TwainContext& c);
int close_dsm(TwainContext& c);
int open_ds(TwainContext& c);
void close_ds(TwainContext& c);
void disable_ds(TwainContext& c);
void shutdown(TwainContext& c);
int select_ds(TwainContext& c);
int report_twain_error(TwainContext& c, UINT id);
TW_UINT16 call_dsm(TwainContext& c, pTW_IDENTITY dest, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data);

// Capabilities, enabling and transfers.
int set_one_value(TwainContext& c, TW_UINT16 cap, TW_UINT16 itemType, TW_UINT32 value);
int enable_ds(TwainContext& c, BOOL showUI, int bitDepth);
int aquire(TwainContext& c);
int aquire_ext(TwainContext& c, BOOL showUI, int bitDepth);
int is_twain_message(TwainContext& c, MSG* msg, HWND hWnd);
int set_resolution(TwainContext& c, LONG dpi);
int set_rect(TwainContext& c, const RECT& rect);
TW_UINT16 call_ds(TwainContext& c, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data);

// TW_FIX32 of a value by TWAIN's rule: v = value x 65536 + 0.5 truncated
// toward zero, whole part v >> 16, fraction the low 16 bits.
TW_FIX32 to_fix32(double value);

// Sets biXPelsPerMeter/biYPelsPerMeter of a transferred image from the image
// information; a block that is not a readable packed DIB with a 40-byte header
// is left alone. Returns whether it was patched.
bool patch_resolution(HGLOBAL hDib, const TW_IMAGEINFO& info);

int get_image_ext(BOOL showUI, int bitDepth, HGLOBAL* images, int capacity);

}  // namespace kelm
