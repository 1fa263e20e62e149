// Reference model of device output, written from the rules and sharing no
// code with the library: the spline's vertices (full Cox-de Boor recursion
// over the whole knot vector), the PostScript road's escape records, and
// the colour cube of palettes for true-colour images.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "kelm3.h"

namespace device_model {

// Knot j of the clamped quadratic vector of n control points.
inline double spline_knot(int j, int n)
{
    if (j <= 2)
        return 0;
    if (j >= n)
        return n - 2;
    return j - 2;
}

// N_{j,r}(t), with the products rounded to single precision as the rule
// says: b x N_{j+1,r-1} rounded, then a x N_{j,r-1} added and the sum
// rounded. Order 1 is 1 on the span [knot_j, knot_{j+1}) that holds t.
inline float spline_basis(int j, int r, float t, int n, int span)
{
    if (r == 1)
        return j == span ? 1.0f : 0.0f;
    const double kj = spline_knot(j, n), kj1 = spline_knot(j + 1, n);
    const double kjr1 = spline_knot(j + r - 1, n), kjr = spline_knot(j + r, n);
    const double a = kjr1 - kj == 0 ? 0.0 : (static_cast<double>(t) - kj) / (kjr1 - kj);
    const double b = kjr - kj1 == 0 ? 0.0 : (kjr - static_cast<double>(t)) / (kjr - kj1);
    const float right = static_cast<float>(b * spline_basis(j + 1, r - 1, t, n, span));
    return static_cast<float>(a * spline_basis(j, r - 1, t, n, span) + right);
}

// The 5n + 2 vertices Splineline hands to Polyline (n >= 3).
inline std::vector<POINT> spline_vertices(const std::vector<POINT>& p)
{
    const int n = static_cast<int>(p.size());
    const int m = 5 * n;
    const float step = static_cast<float>(static_cast<long double>(n - 2) / m);
    std::vector<POINT> out{p.front()};
    float t = 0;
    for (int i = 0; i < m; ++i) {
        const int s = static_cast<int>(std::floor(t));
        long x = 0, y = 0;
        for (int j = s; j <= s + 2 && j <= n - 1; ++j) {
            // The knot interval holding t is s + 2 (three zero knots lead).
            const float w = spline_basis(j, 3, t, n, s + 2);
            x += static_cast<long>(std::floor(p[j].x * static_cast<double>(w) + 0.5));
            y += static_cast<long>(std::floor(p[j].y * static_cast<double>(w) + 0.5));
        }
        out.push_back(POINT{static_cast<LONG>(x), static_cast<LONG>(y)});
        t = t + step;
    }
    out.push_back(p.back());
    return out;
}

// One CMYK pixel in memory order: 255 - blue, 255 - green, 255 - red, black.
struct Cmyk {
    uint8_t b0, b1, b2, b3;
};

// The text of each POSTSCRIPT_DATA escape (without its count) that draws the
// source rectangle of a CMYK image whose stored rows are `rows` (row 0 first
// in memory), the destination corners being (x0, y0) and (x1, y1) in device
// units.
inline std::vector<std::string> postscript_escapes(const std::vector<std::vector<Cmyk>>& rows, int x0, int y0,
                                                   int x1, int y1, int xSrc, int ySrc, int w, int h)
{
    std::vector<std::string> out;
    char buf[1024];
    std::snprintf(buf, sizeof buf, "save\r%d %d translate\r%d %d scale\r", x0, y0, x1 - x0, y1 - y0);
    out.push_back(buf);
    std::snprintf(buf, sizeof buf,
                  "/DeviceCMYK setcolorspace << /ImageType 1 /Width %d /Height %d /BitsPerComponent 8 "
                  "/ImageMatrix [%d 0 0 -%d 0 %d] /Decode [0 1 0 1 0 1 0 1] /DataSource currentfile "
                  "/ASCIIHexDecode filter >> image\r",
                  w, h, w, h, h);
    out.push_back(buf);
    int count = 0;
    for (int y = ySrc; y < ySrc + h; ++y)
        for (int x = xSrc; x < xSrc + w; ++x) {
            const Cmyk c = rows.at(y).at(x);
            std::snprintf(buf, sizeof buf, "%02X%02X%02X%02X", c.b2, c.b1, c.b0, c.b3);
            out.push_back(buf);
            if (++count % 16 == 0)
                out.push_back("\r");
        }
    if (count > 0)
        out.push_back("\r");
    out.push_back(">\rrestore\r");
    return out;
}

inline std::string joined(const std::vector<std::string>& parts)
{
    std::string s;
    for (const auto& p : parts)
        s += p;
    return s;
}

// Entry i of the palette of a true-colour image without a colour table.
inline PALETTEENTRY cube_entry(unsigned i)
{
    return PALETTEENTRY{static_cast<BYTE>(32 * (i % 8)), static_cast<BYTE>(32 * ((i / 8) % 8)),
                        static_cast<BYTE>(64 * (i / 64)), 0};
}

}  // namespace device_model
