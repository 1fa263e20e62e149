/*
 * kelm3_twain.h - the TWAIN records, constants and entry-point types that the
 * scanner functions of kelm3 exchange with a TWAIN source manager and its
 * data sources, and the notification message WM_TWAIN_NOTIFY.
 *
 * Records are packed to 2 bytes as TWAIN lays them out. On 32 bits they have
 * their classic sizes (TW_IDENTITY 156, TW_IMAGEINFO 42, TW_EVENT 6,
 * TW_USERINTERFACE 8, TW_PENDINGXFERS 6, TW_CAPABILITY 8, TW_ONEVALUE 6,
 * TW_IMAGELAYOUT 28); records holding a handle or a pointer (TW_EVENT,
 * TW_USERINTERFACE, TW_CAPABILITY) grow with the pointer on 64 bits.
 * Plain C99, usable from C++; included by kelm3.h.
 */
#ifndef KELM3_TWAIN_H
#define KELM3_TWAIN_H

#if defined(_WIN32)
#include <windows.h>
#define KELM3_TW_CALL WINAPI
#else
#include "kelm3_win32_user.h"
#define KELM3_TW_CALL
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Sent (not posted) to the application window during a batch:
 * (hDib, 0) one scanned image, now owned by the receiver;
 * (0, 0) a finished transfer whose handle was below 32;
 * (0, 1) a transfer that failed or was cancelled;
 * (0, 2) the batch is over: reply 0 to shut the source and the source manager
 *        down, nonzero to keep the source enabled. */
#define WM_TWAIN_NOTIFY 0x242A

typedef char TW_INT8;
typedef short TW_INT16;
typedef int TW_INT32;
typedef unsigned char TW_UINT8;
typedef unsigned short TW_UINT16;
typedef unsigned int TW_UINT32;
typedef unsigned short TW_BOOL;
typedef void *TW_MEMREF;
typedef HANDLE TW_HANDLE;
typedef char TW_STR32[34];

#pragma pack(push, 2)

typedef struct {
    TW_INT16 Whole;
    TW_UINT16 Frac;
} TW_FIX32, *pTW_FIX32;

typedef struct {
    TW_FIX32 Left;
    TW_FIX32 Top;
    TW_FIX32 Right;
    TW_FIX32 Bottom;
} TW_FRAME, *pTW_FRAME;

typedef struct {
    TW_UINT16 MajorNum;
    TW_UINT16 MinorNum;
    TW_UINT16 Language;
    TW_UINT16 Country;
    TW_STR32 Info;
} TW_VERSION, *pTW_VERSION;

typedef struct {
    TW_UINT32 Id;
    TW_VERSION Version;
    TW_UINT16 ProtocolMajor;
    TW_UINT16 ProtocolMinor;
    TW_UINT32 SupportedGroups;
    TW_STR32 Manufacturer;
    TW_STR32 ProductFamily;
    TW_STR32 ProductName;
} TW_IDENTITY, *pTW_IDENTITY;

typedef struct {
    TW_FIX32 XResolution;
    TW_FIX32 YResolution;
    TW_INT32 ImageWidth;
    TW_INT32 ImageLength;
    TW_INT16 SamplesPerPixel;
    TW_INT16 BitsPerSample[8];
    TW_INT16 BitsPerPixel;
    TW_BOOL Planar;
    TW_INT16 PixelType;
    TW_UINT16 Compression;
} TW_IMAGEINFO, *pTW_IMAGEINFO;

typedef struct {
    TW_FRAME Frame;
    TW_UINT32 DocumentNumber;
    TW_UINT32 PageNumber;
    TW_UINT32 FrameNumber;
} TW_IMAGELAYOUT, *pTW_IMAGELAYOUT;

typedef struct {
    TW_MEMREF pEvent;
    TW_UINT16 TWMessage;
} TW_EVENT, *pTW_EVENT;

typedef struct {
    TW_BOOL ShowUI;
    TW_BOOL ModalUI;
    TW_HANDLE hParent;
} TW_USERINTERFACE, *pTW_USERINTERFACE;

typedef struct {
    TW_UINT16 Count;
    TW_UINT32 EOJ;
} TW_PENDINGXFERS, *pTW_PENDINGXFERS;

typedef struct {
    TW_UINT16 Cap;
    TW_UINT16 ConType;
    TW_HANDLE hContainer;
} TW_CAPABILITY, *pTW_CAPABILITY;

typedef struct {
    TW_UINT16 ItemType;
    TW_UINT32 Item;
} TW_ONEVALUE, *pTW_ONEVALUE;

typedef struct {
    TW_UINT16 ConditionCode;
    TW_UINT16 Reserved;
} TW_STATUS, *pTW_STATUS;

#pragma pack(pop)

/* The source manager's entry point, and a data source's. */
typedef TW_UINT16(KELM3_TW_CALL *DSMENTRYPROC)(pTW_IDENTITY pOrigin, pTW_IDENTITY pDest, TW_UINT32 dg,
                                               TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF pData);
typedef TW_UINT16(KELM3_TW_CALL *DSENTRYPROC)(pTW_IDENTITY pOrigin, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg,
                                              TW_MEMREF pData);

/* How a source manager that does not export its entry point to sources by
 * name (the Linux one of kelm3) tells a source where it is: DG_CONTROL /
 * DAT_ENTRYPOINT / MSG_SET before MSG_OPENDS. */
#pragma pack(push, 2)
typedef struct {
    TW_UINT32 Size;
    DSMENTRYPROC DSM_Entry;
    TW_MEMREF DSM_MemAllocate;
    TW_MEMREF DSM_MemFree;
    TW_MEMREF DSM_MemLock;
    TW_MEMREF DSM_MemUnlock;
} TW_ENTRYPOINT, *pTW_ENTRYPOINT;
#pragma pack(pop)

/* Data groups */
#define DG_CONTROL 0x0001L
#define DG_IMAGE 0x0002L
/* Data argument types */
#define DAT_NULL 0x0000
#define DAT_CAPABILITY 0x0001
#define DAT_EVENT 0x0002
#define DAT_IDENTITY 0x0003
#define DAT_PARENT 0x0004
#define DAT_PENDINGXFERS 0x0005
#define DAT_STATUS 0x0008
#define DAT_USERINTERFACE 0x0009
#define DAT_IMAGEINFO 0x0101
#define DAT_IMAGELAYOUT 0x0102
#define DAT_IMAGENATIVEXFER 0x0104
#define DAT_ENTRYPOINT 0x0403
/* Messages */
#define MSG_NULL 0x0000
#define MSG_GET 0x0001
#define MSG_GETCURRENT 0x0002
#define MSG_GETDEFAULT 0x0003
#define MSG_GETFIRST 0x0004
#define MSG_GETNEXT 0x0005
#define MSG_SET 0x0006
#define MSG_RESET 0x0007
#define MSG_XFERREADY 0x0101
#define MSG_CLOSEDSREQ 0x0102
#define MSG_CLOSEDSOK 0x0103
#define MSG_OPENDSM 0x0301
#define MSG_CLOSEDSM 0x0302
#define MSG_OPENDS 0x0401
#define MSG_CLOSEDS 0x0402
#define MSG_USERSELECT 0x0403
#define MSG_DISABLEDS 0x0501
#define MSG_ENABLEDS 0x0502
#define MSG_PROCESSEVENT 0x0601
#define MSG_ENDXFER 0x0701
/* Return codes */
#define TWRC_SUCCESS 0
#define TWRC_FAILURE 1
#define TWRC_CHECKSTATUS 2
#define TWRC_CANCEL 3
#define TWRC_DSEVENT 4
#define TWRC_NOTDSEVENT 5
#define TWRC_XFERDONE 6
#define TWRC_ENDOFLIST 7
/* Condition codes */
#define TWCC_SUCCESS 0
#define TWCC_BUMMER 1
#define TWCC_LOWMEMORY 2
#define TWCC_NODS 3
#define TWCC_MAXCONNECTIONS 4
#define TWCC_OPERATIONERROR 5
#define TWCC_BADCAP 6
#define TWCC_BADPROTOCOL 9
#define TWCC_BADVALUE 10
#define TWCC_SEQERROR 11
#define TWCC_BADDEST 12
/* Containers and item types */
#define TWON_ONEVALUE 5
#define TWON_DONTCARE32 0xFFFFFFFFUL
#define TWTY_INT16 0x0001
#define TWTY_INT32 0x0002
#define TWTY_UINT16 0x0004
#define TWTY_UINT32 0x0005
#define TWTY_BOOL 0x0006
#define TWTY_FIX32 0x0007
/* Capabilities */
#define CAP_XFERCOUNT 0x0001
#define ICAP_PIXELTYPE 0x0101
#define ICAP_UNITS 0x0102
#define ICAP_XRESOLUTION 0x1118
#define ICAP_YRESOLUTION 0x1119
#define ICAP_BITDEPTH 0x112B
/* Values */
#define TWPT_BW 0
#define TWPT_GRAY 1
#define TWPT_RGB 2
#define TWUN_INCHES 0
#define TWLG_USA 13
#define TWCY_USA 1
#define TWON_PROTOCOLMAJOR 1
#define TWON_PROTOCOLMINOR 8

#ifdef __cplusplus
}
#endif

#endif /* KELM3_TWAIN_H */
