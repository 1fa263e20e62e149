// Message boxes, the library's strings and wsprintfA. There is no screen: a
// box goes to stderr (or to the hook a test installs) and is answered IDOK.
#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "platform/platform.h"
#include "platform/linux/user32.h"

namespace {

std::atomic<KELM3_MESSAGEBOXHOOK> g_hook{nullptr};
std::atomic<LPVOID> g_hook_context{nullptr};

}  // namespace

extern "C" {

KELM3_API void WINAPI kelm3_SetMessageBoxHook(KELM3_MESSAGEBOXHOOK hook, LPVOID context)
{
    g_hook_context.store(context);
    g_hook.store(hook);
}

KELM3_API int WINAPI MessageBoxA(HWND hWnd, LPCSTR lpText, LPCSTR lpCaption, UINT uType)
{
    if (KELM3_MESSAGEBOXHOOK hook = g_hook.load())
        return hook(hWnd, lpText, lpCaption, uType, g_hook_context.load());
    std::fprintf(stderr, "%s: %s\n", lpCaption ? lpCaption : "Error", lpText ? lpText : "");
    return IDOK;
}

KELM3_API int WINAPI LoadStringA(HINSTANCE hInstance, UINT uID, LPSTR lpBuffer, int cchBufferMax)
{
    if (hInstance != kelm::g_state.hInstance || !lpBuffer || cchBufferMax <= 0)
        return 0;
    const char* text = kelm::platform::library_string(uID);
    if (!text) {
        lpBuffer[0] = '\0';
        return 0;
    }
    // As Win32: as much as fits with its terminator; the count copied.
    std::size_t n = std::strlen(text);
    if (n > static_cast<std::size_t>(cchBufferMax - 1))
        n = static_cast<std::size_t>(cchBufferMax - 1);
    std::memcpy(lpBuffer, text, n);
    lpBuffer[n] = '\0';
    return static_cast<int>(n);
}

KELM3_API int WINAPIV wsprintfA(LPSTR lpOut, LPCSTR lpFmt, ...)
{
    // Win32 writes at most 1024 bytes, the terminator included.
    va_list args;
    va_start(args, lpFmt);
    int n = std::vsnprintf(lpOut, 1024, lpFmt, args);
    va_end(args);
    if (n < 0) {
        lpOut[0] = '\0';
        return 0;
    }
    return n > 1023 ? 1023 : n;
}

}  // extern "C"
