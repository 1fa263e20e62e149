// The blocking acquisition call: a hidden window of the class "_TWdumy"
// collects the images of one batch while a modal message loop on the
// caller's thread passes every message through the source.
#include "twain/twain.h"

namespace kelm {

namespace {

const char kClassName[] = "_TWdumy";

// The hidden window's record, reached through its extra data slot 0.
struct ImageCollector {
    HGLOBAL* images;
    int capacity;
    int count;
    int done;
};

LRESULT CALLBACK collector_proc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (msg == WM_CREATE) {
        auto* cs = reinterpret_cast<CREATESTRUCTA*>(lParam);
        SetWindowLongPtrA(hWnd, 0, reinterpret_cast<LONG_PTR>(cs->lpCreateParams));
    } else if (msg == WM_TWAIN_NOTIFY && lParam == 0) {
        auto* col = reinterpret_cast<ImageCollector*>(GetWindowLongPtrA(hWnd, 0));
        if (col) {
            if (wParam != 0) {
                auto hDib = reinterpret_cast<HGLOBAL>(wParam);
                if (col->count < col->capacity)
                    col->images[col->count++] = hDib;
                else
                    GlobalFree(hDib);
            } else {
                col->done = 1;
            }
        }
    }
    // The end-of-batch notification is answered 0 from here: the library then
    // shuts the source and the manager down, which ends the loop below.
    return DefWindowProcA(hWnd, msg, wParam, lParam);
}

}  // namespace

int get_image_ext(BOOL showUI, int bitDepth, HGLOBAL* images, int capacity)
{
    ImageCollector col{images, images ? capacity : 0, 0, 0};
    auto hInstance = static_cast<HINSTANCE>(g_state.hInstance);

    WNDCLASSA wc{};
    wc.lpfnWndProc = collector_proc;
    // One pointer of extra data: 4 bytes on 32 bits, where this is the
    // classic SetWindowLongA slot.
    wc.cbWndExtra = sizeof(LONG_PTR);
    wc.hInstance = hInstance;
    wc.lpszClassName = kClassName;
    RegisterClassA(&wc);

    HWND hWnd = CreateWindowExA(0, kClassName, "", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, hInstance, &col);
    if (hWnd) {
        HANDLE hContext = twain_initialize(hWnd, "TWAINGetImage");
        if (hContext) {
            TwainContext* c = twain_context(hContext);
            if (aquire_ext(*c, showUI, bitDepth) && !col.done) {
                while (c->dsmOpen) {
                    MSG msg{};
                    BOOL got = GetMessageA(&msg, nullptr, 0, 0);
                    if (got == 0 || got == -1)
                        break;
                    if (!is_twain_message(*c, &msg, hWnd)) {
                        TranslateMessage(&msg);
                        DispatchMessageA(&msg);
                    }
                    if (col.done)
                        break;
                }
            }
            twain_terminate(hContext);
        }
        DestroyWindow(hWnd);
    }
    UnregisterClassA(kClassName, hInstance);
    return col.count;
}

}  // namespace kelm
