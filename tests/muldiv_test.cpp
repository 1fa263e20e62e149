// Our MulDiv against an exact rational reference: round to nearest with halves
// away from zero, -1 for a zero divisor or a quotient beyond 32 bits.
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <random>

#include "platform/platform.h"

namespace {

// Exact reference with 128-bit arithmetic and explicit comparison of the
// remainder against half the divisor.
int reference(int a, int b, int c)
{
    if (c == 0)
        return -1;
    __int128 p = static_cast<__int128>(a) * b;
    __int128 d = c;
    bool neg = (p < 0) != (d < 0);
    if (p < 0)
        p = -p;
    if (d < 0)
        d = -d;
    __int128 q = p / d;
    __int128 r = p % d;
    if (2 * r >= d)
        ++q;
    if (neg)
        q = -q;
    if (q > INT_MAX || q < INT_MIN)
        return -1;
    return static_cast<int>(q);
}

}  // namespace

TEST(MulDiv, RoundsHalvesAwayFromZero)
{
    struct Case {
        int a, b, c, expected;
    } cases[] = {
        {5, 1, 2, 3},       {-5, 1, 2, -3},      {5, -1, 2, -3},     {5, 1, -2, -3},     {-5, -1, -2, -3},
        {7, 1, 2, 4},       {1, 1, 3, 0},        {2, 1, 3, 1},       {-2, 1, 3, -1},     {10, 10, 10, 10},
        {3, 1, 0, -1},      {0, 0, 0, -1},       {INT_MAX, 2, 2, INT_MAX},                {INT_MAX, INT_MAX, INT_MAX, INT_MAX},
        {INT_MIN, 1, 1, INT_MIN},                {INT_MIN, -1, 1, -1},                     {INT_MAX, 2, 1, -1},
        {100, 3600, 7, 51429},                   {-1, 1, 2, -1},     {1, 1, 2, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.a << " * " << c.b << " / " << c.c);
        EXPECT_EQ(kelm::MulDiv(c.a, c.b, c.c), c.expected);
        EXPECT_EQ(reference(c.a, c.b, c.c), c.expected) << "reference disagrees with the table";
    }
}

TEST(MulDiv, AgreesWithExactArithmeticOnRandomArguments)
{
    std::mt19937 rng(12345);
    std::uniform_int_distribution<int> any(INT_MIN, INT_MAX);
    std::uniform_int_distribution<int> small(-5000, 5000);
    for (int i = 0; i < 200000; ++i) {
        int a = (i & 1) ? any(rng) : small(rng);
        int b = (i & 2) ? any(rng) : small(rng);
        int c = (i & 4) ? any(rng) : small(rng);
        ASSERT_EQ(kelm::MulDiv(a, b, c), reference(a, b, c)) << a << " " << b << " " << c;
    }
}
