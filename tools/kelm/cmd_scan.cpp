// kelm scan: scans through the TWAIN source manager (on Linux the library's
// own, whose sources are the SANE devices) and saves each page. The tool is
// an ordinary TWAIN application of the library: a hidden window receives the
// pages as WM_TWAIN_NOTIFY while its message loop passes every message
// through TWAINIsTwainMessage. Error boxes are caught and reported as errors.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "cli.h"
#include "json.h"
#include "progress.h"

namespace kelm_cli {

namespace {

struct Batch {
    std::vector<HGLOBAL> pages;
    Progress* progress = nullptr;
    int wanted = 1;
};

LRESULT CALLBACK scan_window(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (msg == WM_TWAIN_NOTIFY && lParam == 0 && wParam != 0) {
        auto* batch = reinterpret_cast<Batch*>(GetWindowLongPtrA(hWnd, GWLP_USERDATA));
        auto hDib = reinterpret_cast<HGLOBAL>(wParam);
        if (batch && static_cast<int>(batch->pages.size()) < batch->wanted) {
            batch->pages.push_back(hDib);
            if (batch->progress)
                batch->progress->update(batch->pages.size());
        } else {
            DIBFree(hDib);
        }
    }
    // 0 for the end of the batch: the library closes the source and manager.
    return DefWindowProcA(hWnd, msg, wParam, lParam);
}

std::string g_box;  // the last error box's text

int WINAPI catch_box(HWND, LPCSTR text, LPCSTR caption, UINT, LPVOID)
{
    g_box = std::string(caption ? caption : "") + ": " + (text ? text : "");
    return IDOK;
}

struct SourceInfo {
    std::string name, manufacturer, family;
};

// The source manager's list, asked directly as TWAIN applications do.
bool list_sources(std::vector<SourceInfo>* out, std::string* error)
{
    char dir[MAX_PATH + 16];
    UINT n = GetWindowsDirectoryA(dir, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) {
        *error = "no Windows directory";
        return false;
    }
    std::string path = std::string(dir) + "\\TWAIN_32.DLL";
    HMODULE dsm = LoadLibraryA(path.c_str());
    auto entry = dsm ? reinterpret_cast<DSMENTRYPROC>(reinterpret_cast<void*>(GetProcAddress(dsm, "DSM_Entry")))
                     : nullptr;
    if (!entry) {
        *error = "no TWAIN source manager at " + path;
        if (dsm)
            FreeLibrary(dsm);
        return false;
    }
    TW_IDENTITY app{};
    app.Version.MajorNum = 1;
    std::strcpy(app.ProductName, "kelm");
    app.ProtocolMajor = 1;
    app.ProtocolMinor = 8;
    app.SupportedGroups = DG_CONTROL | DG_IMAGE;
    HWND none = nullptr;
    if (entry(&app, nullptr, DG_CONTROL, DAT_PARENT, MSG_OPENDSM, &none) != TWRC_SUCCESS) {
        *error = "the TWAIN source manager does not open";
        FreeLibrary(dsm);
        return false;
    }
    TW_IDENTITY id{};
    for (TW_UINT16 msg = MSG_GETFIRST; entry(&app, nullptr, DG_CONTROL, DAT_IDENTITY, msg, &id) == TWRC_SUCCESS;
         msg = MSG_GETNEXT)
        out->push_back(SourceInfo{id.ProductName, id.Manufacturer, id.ProductFamily});
    entry(&app, nullptr, DG_CONTROL, DAT_PARENT, MSG_CLOSEDSM, &none);
    FreeLibrary(dsm);
    return true;
}

// "OUT" for one page; "OUT-1.png", "OUT-2.png", ... for several.
std::string page_name(const std::string& out, int index, bool several)
{
    if (!several)
        return out;
    std::string::size_type dot = out.rfind('.');
    std::string::size_type slash = out.rfind('/');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return out + "-" + std::to_string(index);
    return out.substr(0, dot) + "-" + std::to_string(index) + out.substr(dot);
}

bool parse_area(std::string_view s, double v[4])
{
    std::string text(s);
    char tail = 0;
    return std::sscanf(text.c_str(), "%lf,%lf,%lf,%lf%c", &v[0], &v[1], &v[2], &v[3], &tail) == 4 &&
           v[0] >= 0 && v[1] >= 0 && v[2] > v[0] && v[3] > v[1] && v[2] < 10000 && v[3] < 10000;
}

}  // namespace

int cmd_scan(const Args& args)
{
    ParsedArgs a;
    std::string error;
    if (!parse_args(args, {"--list", "--ui"}, {"--source", "--bits", "--dpi", "--area", "--count"}, &a, &error))
        return usage_error("scan", error);
    const bool json = options().json;
    const bool list = a.flags.count("--list") > 0;

    std::vector<SourceInfo> sources;
    if (list || a.value("--source")) {
        if (!list_sources(&sources, &error))
            return failure(error);
    }
    if (list) {
        if (!a.positional.empty())
            return usage_error("scan", "--list takes no OUT");
        if (json) {
            std::string s = "{\"sources\":[";
            for (std::size_t i = 0; i < sources.size(); ++i)
                s += std::string(i ? "," : "") + "{\"name\":" + json_string(sources[i].name) +
                     ",\"manufacturer\":" + json_string(sources[i].manufacturer) +
                     ",\"model\":" + json_string(sources[i].family) + "}";
            std::printf("%s]}\n", s.c_str());
        } else {
            for (const SourceInfo& s : sources)
                std::printf("%s\t%s %s\n", s.name.c_str(), s.manufacturer.c_str(), s.family.c_str());
        }
        return kExitOk;
    }

    if (a.positional.size() != 1)
        return usage_error("scan", a.positional.empty() ? "missing OUT" : "more than one OUT");
    const std::string out(a.positional[0]);
    int bits = 24;
    if (auto v = a.value("--bits")) {
        auto n = parse_long(*v);
        if (!n || (*n != 1 && *n != 8 && *n != 24))
            return usage_error("scan", "--bits must be 1, 8 or 24: '" + std::string(*v) + "'");
        bits = static_cast<int>(*n);
    }
    long dpi = 0;
    if (auto v = a.value("--dpi")) {
        auto n = parse_long(*v);
        if (!n || *n < 1 || *n > 32767)
            return usage_error("scan", "--dpi must be 1 to 32767: '" + std::string(*v) + "'");
        dpi = *n;
    }
    double area[4] = {0, 0, 0, 0};
    const bool hasArea = a.value("--area").has_value();
    if (hasArea && !parse_area(*a.value("--area"), area))
        return usage_error("scan", "--area must be L,T,R,B in millimetres with L < R and T < B: '" +
                                       std::string(*a.value("--area")) + "'");
    int count = 1;
    if (auto v = a.value("--count")) {
        auto n = parse_long(*v);
        if (!n || *n < 1 || *n > 10000)
            return usage_error("scan", "--count must be 1 to 10000: '" + std::string(*v) + "'");
        count = static_cast<int>(*n);
    }
    if (auto v = a.value("--source")) {
        bool found = false;
        for (const SourceInfo& s : sources)
            found = found || s.name == *v;
        if (!found)
            return failure("no source named '" + std::string(*v) + "' (kelm scan --list shows them)");
        // The Linux source manager opens this one as its default source.
        setenv("KELM3_TWAIN_SOURCE", std::string(*v).c_str(), 1);
    }

    kelm3_SetMessageBoxHook(catch_box, nullptr);
    Batch batch;
    batch.wanted = count;
    WNDCLASSA wc{};
    wc.lpfnWndProc = scan_window;
    wc.lpszClassName = "kelmScan";
    RegisterClassA(&wc);
    HWND hWnd = CreateWindowExA(0, "kelmScan", "", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
    SetWindowLongPtrA(hWnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&batch));
    HANDLE ctx = TWAINInitialize(hWnd, "kelm");
    bool ok = ctx != nullptr;
    if (ok && dpi)
        ok = TWAINSetResolution(ctx, dpi, 0) != 0;
    if (ok && hasArea) {
        RECT r;
        LONG* edges[4] = {&r.left, &r.top, &r.right, &r.bottom};
        for (int i = 0; i < 4; ++i)
            *edges[i] = static_cast<LONG>(std::lround(area[i] * 1440.0 / 25.4));
        ok = TWAINSetRect(ctx, &r, 0) != 0;
    }
    {
        Progress progress("scanning", static_cast<uint64_t>(count));
        batch.progress = &progress;
        if (ok && TWAINAquireExt(ctx, a.flags.count("--ui") ? TRUE : FALSE, bits)) {
            MSG msg;
            while (TWAINIsDSMOpen(ctx) && GetMessageA(&msg, nullptr, 0, 0) > 0) {
                if (!TWAINIsTwainMessage(ctx, &msg, hWnd)) {
                    TranslateMessage(&msg);
                    DispatchMessageA(&msg);
                }
            }
        }
        batch.progress = nullptr;
    }
    if (ctx)
        TWAINTerminate(ctx);
    DestroyWindow(hWnd);
    UnregisterClassA("kelmScan", nullptr);
    kelm3_SetMessageBoxHook(nullptr, nullptr);

    if (batch.pages.empty())
        return failure(g_box.empty() ? "no image was scanned" : g_box);
    std::vector<std::string> files;
    int status = kExitOk;
    for (std::size_t i = 0; i < batch.pages.size(); ++i) {
        std::string name = page_name(out, static_cast<int>(i) + 1, count > 1);
        std::vector<std::string> notes;
        if (status == kExitOk && !save_image(name, batch.pages[i], &notes, &error))
            status = failure(name, error);
        else if (status == kExitOk)
            files.push_back(name);
        DIBFree(batch.pages[i]);
    }
    if (status != kExitOk)
        return status;
    if (json)
        std::printf("{\"files\":%s}\n", json_string_array(files).c_str());
    else if (!options().quiet)
        for (const std::string& f : files)
            std::fprintf(stderr, "kelm: %s: scanned\n", f.c_str());
    return kExitOk;
}

}  // namespace kelm_cli
