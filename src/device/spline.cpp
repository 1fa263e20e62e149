// Open uniform quadratic B-spline through Polyline: five samples per control
// point, framed by the first and last control points.
#include <cmath>
#include <limits>
#include <vector>

#include "device/device.h"

namespace kelm {

namespace {

// Knot j of the clamped vector 0, 0, 0, 1, 2, ..., n - 3, n - 2, n - 2, n - 2,
// for any j, so that a span at the very end of the range reads no further
// than the vector's last knot.
double knot(int64_t j, int n)
{
    const int64_t k = j - 2;
    return static_cast<double>(k < 0 ? 0 : (k > n - 2 ? n - 2 : k));
}

double ratio(double num, double den)
{
    return den == 0 ? 0.0 : num / den;
}

}  // namespace

bool spline_vertices(const POINT* points, int n, POINT* out)
{
    const int m = 5 * n;
    // The parameter steps in single precision from a quotient taken in
    // extended precision, as the curve's published vertices were computed.
    const float step = static_cast<float>(static_cast<long double>(n - 2) / static_cast<long double>(m));
    float t = 0.0f;
    out[0] = points[0];
    for (int i = 0; i < m; ++i) {
        const int64_t s = static_cast<int64_t>(std::floor(t));
        const double td = t;
        // Cox-de Boor on the span: order 1 is 1 on knot interval s + 2 only;
        // orders 2 and 3 for the functions s .. s + 3 that can be non-zero.
        float n1[5], n2[4], n3[3];
        for (int k = 0; k < 5; ++k)
            n1[k] = (k == 2) ? 1.0f : 0.0f;
        for (int k = 0; k < 4; ++k) {
            const int64_t j = s + k;
            const double a = ratio(td - knot(j, n), knot(j + 1, n) - knot(j, n));
            const double b = ratio(knot(j + 2, n) - td, knot(j + 2, n) - knot(j + 1, n));
            const float bt = static_cast<float>(b * n1[k + 1]);
            n2[k] = static_cast<float>(a * n1[k] + bt);
        }
        for (int k = 0; k < 3; ++k) {
            const int64_t j = s + k;
            const double a = ratio(td - knot(j, n), knot(j + 2, n) - knot(j, n));
            const double b = ratio(knot(j + 3, n) - td, knot(j + 3, n) - knot(j + 1, n));
            const float bt = static_cast<float>(b * n2[k + 1]);
            n3[k] = static_cast<float>(a * n2[k] + bt);
        }
        int64_t x = 0, y = 0;
        for (int k = 0; k < 3 && s + k <= n - 1; ++k) {
            const POINT& p = points[s + k];
            x += static_cast<int64_t>(std::floor(static_cast<double>(p.x) * n3[k] + 0.5));
            y += static_cast<int64_t>(std::floor(static_cast<double>(p.y) * n3[k] + 0.5));
        }
        out[1 + i] = POINT{static_cast<LONG>(x), static_cast<LONG>(y)};
        t = static_cast<float>(t + step);
    }
    out[m + 1] = points[n - 1];
    return true;
}

BOOL spline_line(HDC hdc, const POINT* points, int n)
{
    if (!points || n < 2)
        return 0;
    // Two points have no curve between them: they are drawn as the segment
    // they make.
    if (n == 2)
        return Polyline(hdc, points, 2);
    if (n > (std::numeric_limits<int>::max() - 3) / 5)
        return 0;
    try {
        std::vector<POINT> out(static_cast<size_t>(5) * n + 3);
        if (!spline_vertices(points, n, out.data()))
            return 0;
        return Polyline(hdc, out.data(), 5 * n + 2);
    } catch (...) {
        return 0;
    }
}

}  // namespace kelm
