/*
 * kelm3_win32_user.h - windows, messages and the few user-interface and
 * module functions of Win32 that the scanner functions of kelm3 use, for
 * platforms other than Windows (included by kelm3_twain.h there).
 *
 * Windows belong to the thread that creates them; each thread has its own
 * message queue. PostMessageA queues a message for the window's thread (for
 * the calling thread when hWnd is NULL); GetMessageA waits for the next
 * message of the calling thread and returns 0 for WM_QUIT; SendMessageA and
 * DispatchMessageA call the window procedure directly. TranslateMessage does
 * nothing (there is no keyboard) and returns FALSE. The window extra bytes are
 * read and written with Get/SetWindowLongA (32 bits) and Get/SetWindowLongPtrA
 * (a pointer). Windows are never shown; style and geometry are recorded only.
 *
 * MessageBoxA writes "caption: text" to stderr and returns IDOK, unless a hook
 * set with kelm3_SetMessageBoxHook answers instead (tests use it to see and
 * answer every box). LoadStringA reads the library's own string table (the
 * TWAIN error texts) for the library's module handle.
 *
 * The Windows directory is the folder named by the environment variable
 * KELM3_WINDIR, else /usr/share/kelm3/windows. LoadLibraryA opens shared
 * objects (backslashes in paths count as slashes); "<Windows directory>\
 * TWAIN_32.DLL" is the library's built-in TWAIN source manager unless a real
 * file is there, and OpenFile reports the built-in module as existing.
 */
#ifndef KELM3_WIN32_USER_H
#define KELM3_WIN32_USER_H

#include "kelm3_win32.h"

#ifdef __cplusplus
extern "C" {
#endif

#ifndef WINAPIV
#define WINAPIV
#endif

/* HWND, HBRUSH and HCURSOR come with the GDI part of kelm3_win32.h. */
typedef struct HMENU__ *HMENU;
typedef struct HICON__ *HICON;
typedef WORD ATOM;
typedef int HFILE;
typedef int (WINAPI *FARPROC)(void);

typedef LRESULT(CALLBACK *WNDPROC)(HWND, UINT, WPARAM, LPARAM);

typedef struct tagWNDCLASSA {
    UINT style;
    WNDPROC lpfnWndProc;
    int cbClsExtra;
    int cbWndExtra;
    HINSTANCE hInstance;
    HICON hIcon;
    HCURSOR hCursor;
    HBRUSH hbrBackground;
    LPCSTR lpszMenuName;
    LPCSTR lpszClassName;
} WNDCLASSA, *LPWNDCLASSA;
typedef const WNDCLASSA *LPCWNDCLASSA;

typedef struct tagCREATESTRUCTA {
    LPVOID lpCreateParams;
    HINSTANCE hInstance;
    HMENU hMenu;
    HWND hwndParent;
    int cy;
    int cx;
    int y;
    int x;
    LONG style;
    LPCSTR lpszName;
    LPCSTR lpszClass;
    DWORD dwExStyle;
} CREATESTRUCTA, *LPCREATESTRUCTA;

typedef struct tagMSG {
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    DWORD time;
    POINT pt;
} MSG, *PMSG, *LPMSG;

#define WM_NULL 0x0000
#define WM_CREATE 0x0001
#define WM_DESTROY 0x0002
#define WM_CLOSE 0x0010
#define WM_QUIT 0x0012
#define WM_NCCREATE 0x0081
#define WM_NCDESTROY 0x0082
#define WM_COMMAND 0x0111
#define WM_TIMER 0x0113
#define WM_USER 0x0400
#define WM_APP 0x8000

#define WS_POPUP 0x80000000L
#define WS_VISIBLE 0x10000000L
#define WS_OVERLAPPEDWINDOW 0x00CF0000L

#define GWL_WNDPROC (-4)
#define GWLP_WNDPROC (-4)
#define GWLP_USERDATA (-21)
#define GWL_USERDATA (-21)
#define GWL_STYLE (-16)

#ifndef MB_OK
#define MB_OK 0x00000000L
#endif
#define MB_OKCANCEL 0x00000001L
#define MB_ICONHAND 0x00000010L
#define MB_ICONERROR MB_ICONHAND
#define MB_ICONSTOP MB_ICONHAND
#define IDOK 1
#define IDCANCEL 2

#define OFS_MAXPATHNAME 128
typedef struct _OFSTRUCT {
    BYTE cBytes;
    BYTE fFixedDisk;
    WORD nErrCode;
    WORD Reserved1;
    WORD Reserved2;
    CHAR szPathName[OFS_MAXPATHNAME];
} OFSTRUCT, *LPOFSTRUCT, *POFSTRUCT;
#define OF_READ 0x00000000
#define OF_EXIST 0x00004000
#define HFILE_ERROR ((HFILE)-1)
#define MAX_PATH 260

KELM3_API ATOM WINAPI RegisterClassA(const WNDCLASSA *lpWndClass);
KELM3_API BOOL WINAPI UnregisterClassA(LPCSTR lpClassName, HINSTANCE hInstance);
KELM3_API HWND WINAPI CreateWindowExA(DWORD dwExStyle, LPCSTR lpClassName, LPCSTR lpWindowName, DWORD dwStyle,
                                      int X, int Y, int nWidth, int nHeight, HWND hWndParent, HMENU hMenu,
                                      HINSTANCE hInstance, LPVOID lpParam);
KELM3_API BOOL WINAPI DestroyWindow(HWND hWnd);
KELM3_API BOOL WINAPI IsWindow(HWND hWnd);
KELM3_API BOOL WINAPI GetMessageA(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax);
KELM3_API BOOL WINAPI PostMessageA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam);
KELM3_API void WINAPI PostQuitMessage(int nExitCode);
KELM3_API LRESULT WINAPI SendMessageA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam);
KELM3_API BOOL WINAPI TranslateMessage(const MSG *lpMsg);
KELM3_API LRESULT WINAPI DispatchMessageA(const MSG *lpMsg);
KELM3_API LRESULT WINAPI DefWindowProcA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam);
KELM3_API LONG WINAPI GetWindowLongA(HWND hWnd, int nIndex);
KELM3_API LONG WINAPI SetWindowLongA(HWND hWnd, int nIndex, LONG dwNewLong);
KELM3_API LONG_PTR WINAPI GetWindowLongPtrA(HWND hWnd, int nIndex);
KELM3_API LONG_PTR WINAPI SetWindowLongPtrA(HWND hWnd, int nIndex, LONG_PTR dwNewLong);

KELM3_API int WINAPI MessageBoxA(HWND hWnd, LPCSTR lpText, LPCSTR lpCaption, UINT uType);
KELM3_API int WINAPI LoadStringA(HINSTANCE hInstance, UINT uID, LPSTR lpBuffer, int cchBufferMax);
KELM3_API int WINAPIV wsprintfA(LPSTR lpOut, LPCSTR lpFmt, ...);
KELM3_API HFILE WINAPI OpenFile(LPCSTR lpFileName, LPOFSTRUCT lpReOpenBuff, UINT uStyle);
KELM3_API UINT WINAPI GetWindowsDirectoryA(LPSTR lpBuffer, UINT uSize);
KELM3_API HMODULE WINAPI LoadLibraryA(LPCSTR lpLibFileName);
KELM3_API FARPROC WINAPI GetProcAddress(HMODULE hModule, LPCSTR lpProcName);
KELM3_API BOOL WINAPI FreeLibrary(HMODULE hLibModule);

/* kelm3_SetMessageBoxHook (Linux only): every later MessageBoxA calls hook
 * (owner, text, caption, type, context) on the calling thread and returns its
 * result instead of writing to stderr; NULL restores stderr. */
typedef int(WINAPI *KELM3_MESSAGEBOXHOOK)(HWND hWnd, LPCSTR lpText, LPCSTR lpCaption, UINT uType, LPVOID context);
KELM3_API void WINAPI kelm3_SetMessageBoxHook(KELM3_MESSAGEBOXHOOK hook, LPVOID context);

#ifdef __cplusplus
}
#endif

#endif /* KELM3_WIN32_USER_H */
