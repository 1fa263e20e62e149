// `kelm spline OUT X,Y X,Y X,Y ... [--size WxH] [--colour C]`: draws the
// library's quadratic B-spline of the control points into a new white image
// through a device context, and saves it.
#include <algorithm>
#include <string>
#include <vector>

#include "cli.h"
#include "colour_arg.h"
#include "json.h"

namespace kelm_cli {

namespace {

bool parse_point(std::string_view s, POINT* p)
{
    const auto comma = s.find(',');
    if (comma == std::string_view::npos)
        return false;
    const auto x = parse_long(s.substr(0, comma)), y = parse_long(s.substr(comma + 1));
    if (!x || !y || *x < -1000000 || *x > 1000000 || *y < -1000000 || *y > 1000000)
        return false;
    *p = POINT{static_cast<LONG>(*x), static_cast<LONG>(*y)};
    return true;
}

}  // namespace

int cmd_spline(const Args& args)
{
    ParsedArgs a;
    std::string error;
    if (!parse_args(args, {}, {"--size", "--colour"}, &a, &error))
        return usage_error("spline", error);
    if (a.positional.size() < 3)
        return usage_error("spline", "expected OUT and at least two points X,Y");
    const std::string out(a.positional[0]);
    std::vector<POINT> points;
    for (size_t i = 1; i < a.positional.size(); ++i) {
        POINT p;
        if (!parse_point(a.positional[i], &p))
            return usage_error("spline", "not a point: '" + std::string(a.positional[i]) +
                                             "' (expected X,Y with integers from -1000000 to 1000000)");
        points.push_back(p);
    }
    DWORD colour = 0;
    if (auto c = a.value("--colour")) {
        auto parsed = parse_colour(*c, &error);
        if (!parsed)
            return usage_error("spline", error);
        colour = *parsed & 0xFFFFFF;
    }
    long w = 0, h = 0;
    if (auto size = a.value("--size")) {
        unsigned bits = 0;
        const std::string s(*size);
        if (!parse_geometry(s + "x24", &w, &h, &bits) || w <= 0 || h <= 0 || w > 16384 || h > 16384)
            return usage_error("spline", "not a size: '" + s + "' (expected WIDTHxHEIGHT, 1 to 16384)");
    } else {
        // Room for every control point, which the curve never leaves.
        for (const POINT& p : points) {
            w = std::max<long>(w, p.x + 1);
            h = std::max<long>(h, p.y + 1);
        }
        if (w < 1 || h < 1 || w > 16384 || h > 16384)
            return usage_error("spline", "the points need an image of 1 to 16384 pixels a side: give --size");
    }

    HDC screen = GetDC(nullptr);
    HDC dc = screen ? CreateCompatibleDC(screen) : nullptr;
    HBITMAP bm = screen ? CreateCompatibleBitmap(screen, static_cast<int>(w), static_cast<int>(h)) : nullptr;
    if (screen)
        ReleaseDC(nullptr, screen);
    HPEN pen = CreatePen(PS_SOLID, 1, colour);
    HGLOBAL dib = nullptr;
    BOOL drawn = 0;
    if (dc && bm && pen) {
        HGDIOBJ oldBitmap = SelectObject(dc, bm);
        HGDIOBJ oldPen = SelectObject(dc, pen);
        PatBlt(dc, 0, 0, static_cast<int>(w), static_cast<int>(h), WHITENESS);
        drawn = Splineline(dc, points.data(), static_cast<int>(points.size()));
        SelectObject(dc, oldPen);
        SelectObject(dc, oldBitmap);
        if (drawn)
            dib = DIBFromBitmap(bm, BI_RGB, 24, nullptr);
    }
    if (dc)
        DeleteDC(dc);
    if (bm)
        DeleteObject(bm);
    if (pen)
        DeleteObject(pen);
    if (!dib)
        return failure(drawn ? "cannot convert the drawing to an image" : "cannot draw the curve (out of memory)");

    std::vector<std::string> notes;
    const bool saved = save_image(out, dib, &notes, &error);
    DIBFree(dib);
    if (!saved)
        return failure(out == "-" ? "(standard output)" : out, "cannot write: " + error);
    for (const std::string& n : notes)
        note(out, n);
    FILE* report = out == "-" ? stderr : stdout;
    if (options().json) {
        std::fprintf(report, "{\"file\":%s,\"width\":%ld,\"height\":%ld,\"points\":%zu,\"vertices\":%zu}\n",
                     json_string(out).c_str(), w, h, points.size(),
                     points.size() >= 3 ? 5 * points.size() + 2 : points.size());
    } else if (out != "-" && !options().quiet) {
        std::printf("%s: %ldx%ld, spline of %zu control points\n", out.c_str(), w, h, points.size());
    }
    return kExitOk;
}

}  // namespace kelm_cli
