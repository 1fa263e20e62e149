// Windows, window classes and per-thread message queues: the part of the
// Win32 window manager that a hidden window with a modal message loop needs.
// Windows are records in a table, found by handle (handles are never reused,
// so a stale one is refused); each belongs to the thread that created it, and
// posted messages wait in that thread's queue.
#include <algorithm>
#include <cctype>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/platform.h"
#include "platform/linux/user32.h"

namespace {

struct WindowClass {
    WNDCLASSA wc;
    std::string name;
};

struct Window {
    std::string className;
    WNDPROC proc;
    std::vector<unsigned char> extra;
    std::thread::id owner;
    LONG style;
    LONG_PTR userData;
};

struct Queue {
    std::deque<MSG> messages;
    std::condition_variable ready;
};

std::mutex g_lock;
std::map<std::string, WindowClass> g_classes;  // by lower-case name
std::map<uintptr_t, Window> g_windows;
std::map<std::thread::id, Queue> g_queues;
uintptr_t g_next_window = 0x10010;

std::string lower(const char* s)
{
    std::string r(s ? s : "");
    for (char& ch : r)
        ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    return r;
}

uintptr_t key(HWND h)
{
    return reinterpret_cast<uintptr_t>(h);
}

Window* find_window(HWND h)
{
    auto it = g_windows.find(key(h));
    return it == g_windows.end() ? nullptr : &it->second;
}

WNDPROC proc_of(HWND h)
{
    std::lock_guard<std::mutex> guard(g_lock);
    Window* w = find_window(h);
    return w ? w->proc : nullptr;
}

void post(std::thread::id thread, const MSG& msg)
{
    Queue& q = g_queues[thread];
    q.messages.push_back(msg);
    q.ready.notify_all();
}

// Extra-data access: index and size must lie inside the window's bytes.
template <typename T>
bool extra_slot(Window& w, int index, unsigned char*& at)
{
    if (index < 0 || static_cast<std::size_t>(index) + sizeof(T) > w.extra.size())
        return false;
    at = w.extra.data() + index;
    return true;
}

}  // namespace

extern "C" {

KELM3_API ATOM WINAPI RegisterClassA(const WNDCLASSA* lpWndClass)
{
    if (!lpWndClass || !lpWndClass->lpszClassName || !lpWndClass->lpfnWndProc || lpWndClass->cbWndExtra < 0 ||
        lpWndClass->cbWndExtra > 40000)
        return 0;
    std::lock_guard<std::mutex> guard(g_lock);
    std::string name = lower(lpWndClass->lpszClassName);
    if (name.empty() || g_classes.count(name))
        return 0;
    WindowClass& c = g_classes[name];
    c.wc = *lpWndClass;
    c.name = name;
    c.wc.lpszClassName = c.name.c_str();
    c.wc.lpszMenuName = nullptr;
    static ATOM next_atom = 0xC000;
    return next_atom == 0xFFFF ? (next_atom = 0xC000) : next_atom++;
}

KELM3_API BOOL WINAPI UnregisterClassA(LPCSTR lpClassName, HINSTANCE /*hInstance*/)
{
    std::lock_guard<std::mutex> guard(g_lock);
    std::string name = lower(lpClassName);
    auto it = g_classes.find(name);
    if (it == g_classes.end())
        return FALSE;
    // As Win32: a class with windows left cannot go.
    for (const auto& w : g_windows)
        if (w.second.className == name)
            return FALSE;
    g_classes.erase(it);
    return TRUE;
}

KELM3_API HWND WINAPI CreateWindowExA(DWORD dwExStyle, LPCSTR lpClassName, LPCSTR lpWindowName, DWORD dwStyle, int X,
                                      int Y, int nWidth, int nHeight, HWND hWndParent, HMENU hMenu,
                                      HINSTANCE hInstance, LPVOID lpParam)
{
    HWND hWnd;
    WNDPROC proc;
    {
        std::lock_guard<std::mutex> guard(g_lock);
        auto it = g_classes.find(lower(lpClassName));
        if (it == g_classes.end())
            return nullptr;
        Window w{};
        w.className = it->first;
        w.proc = it->second.wc.lpfnWndProc;
        w.extra.assign(static_cast<std::size_t>(it->second.wc.cbWndExtra), 0);
        w.owner = std::this_thread::get_id();
        w.style = static_cast<LONG>(dwStyle);
        uintptr_t k = g_next_window;
        g_next_window += 4;
        g_windows.emplace(k, std::move(w));
        hWnd = reinterpret_cast<HWND>(k);
        proc = it->second.wc.lpfnWndProc;
    }
    CREATESTRUCTA cs{};
    cs.lpCreateParams = lpParam;
    cs.hInstance = hInstance;
    cs.hMenu = hMenu;
    cs.hwndParent = hWndParent;
    cs.cx = nWidth;
    cs.cy = nHeight;
    cs.x = X;
    cs.y = Y;
    cs.style = static_cast<LONG>(dwStyle);
    cs.lpszName = lpWindowName;
    cs.lpszClass = lpClassName;
    cs.dwExStyle = dwExStyle;
    LPARAM lp = reinterpret_cast<LPARAM>(&cs);
    if (!proc(hWnd, WM_NCCREATE, 0, lp) || proc(hWnd, WM_CREATE, 0, lp) == -1) {
        DestroyWindow(hWnd);
        return nullptr;
    }
    return hWnd;
}

KELM3_API BOOL WINAPI DestroyWindow(HWND hWnd)
{
    WNDPROC proc = proc_of(hWnd);
    if (!proc)
        return FALSE;
    proc(hWnd, WM_DESTROY, 0, 0);
    proc(hWnd, WM_NCDESTROY, 0, 0);
    std::lock_guard<std::mutex> guard(g_lock);
    g_windows.erase(key(hWnd));
    // Messages still queued for it are dropped, as Win32 does.
    for (auto& q : g_queues) {
        auto& m = q.second.messages;
        m.erase(std::remove_if(m.begin(), m.end(), [&](const MSG& x) { return x.hwnd == hWnd; }), m.end());
    }
    return TRUE;
}

KELM3_API BOOL WINAPI IsWindow(HWND hWnd)
{
    std::lock_guard<std::mutex> guard(g_lock);
    return find_window(hWnd) ? TRUE : FALSE;
}

KELM3_API BOOL WINAPI PostMessageA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam)
{
    std::lock_guard<std::mutex> guard(g_lock);
    MSG msg{hWnd, Msg, wParam, lParam, 0, {0, 0}};
    if (!hWnd) {
        post(std::this_thread::get_id(), msg);
        return TRUE;
    }
    Window* w = find_window(hWnd);
    if (!w)
        return FALSE;
    post(w->owner, msg);
    return TRUE;
}

KELM3_API void WINAPI PostQuitMessage(int nExitCode)
{
    std::lock_guard<std::mutex> guard(g_lock);
    post(std::this_thread::get_id(), MSG{nullptr, WM_QUIT, static_cast<WPARAM>(nExitCode), 0, 0, {0, 0}});
}

KELM3_API BOOL WINAPI GetMessageA(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax)
{
    if (!lpMsg)
        return -1;
    std::unique_lock<std::mutex> guard(g_lock);
    if (hWnd && !find_window(hWnd))
        return -1;
    Queue& q = g_queues[std::this_thread::get_id()];
    auto wanted = [&](const MSG& m) {
        if (m.message == WM_QUIT)
            return true;
        if (hWnd && m.hwnd != hWnd)
            return false;
        if (wMsgFilterMin == 0 && wMsgFilterMax == 0)
            return true;
        return m.message >= wMsgFilterMin && m.message <= wMsgFilterMax;
    };
    for (;;) {
        auto it = std::find_if(q.messages.begin(), q.messages.end(), wanted);
        if (it != q.messages.end()) {
            *lpMsg = *it;
            q.messages.erase(it);
            return lpMsg->message == WM_QUIT ? FALSE : TRUE;
        }
        q.ready.wait(guard);
    }
}

KELM3_API LRESULT WINAPI SendMessageA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam)
{
    // Called directly, on the calling thread (the library sends only to
    // windows of the thread it runs on).
    WNDPROC proc = proc_of(hWnd);
    return proc ? proc(hWnd, Msg, wParam, lParam) : 0;
}

KELM3_API BOOL WINAPI TranslateMessage(const MSG* /*lpMsg*/)
{
    return FALSE;
}

KELM3_API LRESULT WINAPI DispatchMessageA(const MSG* lpMsg)
{
    if (!lpMsg || !lpMsg->hwnd)
        return 0;
    WNDPROC proc = proc_of(lpMsg->hwnd);
    return proc ? proc(lpMsg->hwnd, lpMsg->message, lpMsg->wParam, lpMsg->lParam) : 0;
}

KELM3_API LRESULT WINAPI DefWindowProcA(HWND /*hWnd*/, UINT Msg, WPARAM /*wParam*/, LPARAM /*lParam*/)
{
    return Msg == WM_NCCREATE ? TRUE : 0;
}

KELM3_API LONG WINAPI GetWindowLongA(HWND hWnd, int nIndex)
{
    std::lock_guard<std::mutex> guard(g_lock);
    Window* w = find_window(hWnd);
    if (!w)
        return 0;
    if (nIndex == GWL_STYLE)
        return w->style;
    unsigned char* at;
    if (!extra_slot<LONG>(*w, nIndex, at))
        return 0;
    LONG v;
    std::memcpy(&v, at, sizeof v);
    return v;
}

KELM3_API LONG WINAPI SetWindowLongA(HWND hWnd, int nIndex, LONG dwNewLong)
{
    std::lock_guard<std::mutex> guard(g_lock);
    Window* w = find_window(hWnd);
    unsigned char* at;
    if (!w || !extra_slot<LONG>(*w, nIndex, at))
        return 0;
    LONG old;
    std::memcpy(&old, at, sizeof old);
    std::memcpy(at, &dwNewLong, sizeof dwNewLong);
    return old;
}

KELM3_API LONG_PTR WINAPI GetWindowLongPtrA(HWND hWnd, int nIndex)
{
    std::lock_guard<std::mutex> guard(g_lock);
    Window* w = find_window(hWnd);
    if (!w)
        return 0;
    if (nIndex == GWLP_USERDATA)
        return w->userData;
    if (nIndex == GWLP_WNDPROC)
        return reinterpret_cast<LONG_PTR>(w->proc);
    unsigned char* at;
    if (!extra_slot<LONG_PTR>(*w, nIndex, at))
        return 0;
    LONG_PTR v;
    std::memcpy(&v, at, sizeof v);
    return v;
}

KELM3_API LONG_PTR WINAPI SetWindowLongPtrA(HWND hWnd, int nIndex, LONG_PTR dwNewLong)
{
    std::lock_guard<std::mutex> guard(g_lock);
    Window* w = find_window(hWnd);
    if (!w)
        return 0;
    LONG_PTR old = 0;
    if (nIndex == GWLP_USERDATA) {
        old = w->userData;
        w->userData = dwNewLong;
        return old;
    }
    unsigned char* at;
    if (!extra_slot<LONG_PTR>(*w, nIndex, at))
        return 0;
    std::memcpy(&old, at, sizeof old);
    std::memcpy(at, &dwNewLong, sizeof dwNewLong);
    return old;
}

}  // extern "C"
