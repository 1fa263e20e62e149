// Internal pieces of the geometry subsystem: the angle and sine/cosine rule,
// the 64-bit MulDiv, and the library's incremental general paths against
// TransformDIB driven by its own RotateMapProc and StretchMapProc.
#include <gtest/gtest.h>

#include <climits>
#include <random>

#include "geometry/geometry.h"
#include "support/dib_builder.h"
#include "support/geometry_model.h"

using namespace kelm_test;

namespace {

bool same_block(HGLOBAL a, HGLOBAL b)
{
    return block_bytes(a) == block_bytes(b);
}

}  // namespace

TEST(GeometryAngle, NormalisationAndWorkedSinesAndCosines)
{
    const struct {
        int32_t in;
        int out;
    } angles[] = {{0, 0}, {3600, 0}, {-900, 2700}, {4500, 900}, {-1, 3599}, {-3600, 0}, {7199, 3599},
                  {INT_MAX, INT_MAX % 3600}, {INT_MIN, kelm_test::geom::model_normalise(INT_MIN)}};
    for (const auto& a : angles)
        EXPECT_EQ(kelm::normalise_angle(a.in), a.out) << a.in;
    const struct {
        int angle;
        LONG s, c;
    } table[] = {{0, 0, 10000},    {900, 10000, 0},   {1800, 0, -10000}, {2700, -10000, 0},
                 {1350, 7071, -7070}, {3000, -8659, 5000}, {450, 7071, 7071}, {300, 5000, 8660}, {10, 175, 9998}};
    for (const auto& t : table) {
        LONG s, c;
        kelm::rotation_sin_cos(t.angle, &s, &c);
        EXPECT_EQ(s, t.s) << t.angle;
        EXPECT_EQ(c, t.c) << t.angle;
    }
    // Every tenth against the model's own evaluation of the rule.
    for (int a = 0; a < 3600; ++a) {
        LONG s, c;
        int32_t ms, mc;
        kelm::rotation_sin_cos(a, &s, &c);
        kelm_test::geom::model_sin_cos(a, &ms, &mc);
        ASSERT_EQ(s, ms) << a;
        ASSERT_EQ(c, mc) << a;
    }
}

TEST(GeometryMulDiv, SixtyFourBitsAgreeWithMulDivWhereItFits)
{
    std::mt19937 rng(11);
    for (int i = 0; i < 100000; ++i) {
        const int a = int(rng()) >> (rng() % 31), b = int(rng()) >> (rng() % 31);
        int c = int(rng()) >> (rng() % 31);
        if (c == 0)
            c = 1;
        const int m = kelm::MulDiv(a, b, c);
        const int64_t w = kelm::muldiv64(a, b, c);
        if (w >= INT_MIN + 1 && w <= INT_MAX) {
            ASSERT_EQ(int64_t{m}, w) << a << " * " << b << " / " << c;
        }
        ASSERT_EQ(w, kelm_test::geom::model_muldiv(a, b, c));
    }
}

// The incremental walks give exactly what TransformDIB gives with the
// library's own mapping callbacks.
TEST(GeometryWalk, RotationEqualsTransformWithRotateMapProc)
{
    std::mt19937 rng(17);
    const WORD depths[] = {1, 4, 8, 16, 24, 32};
    for (WORD bits : depths)
        for (int round = 0; round < 40; ++round) {
            const int w = 1 + int(rng() % 40), h = 1 + int(rng() % 40);
            const int32_t angle = int32_t(rng() % 7200) - 3600;
            SCOPED_TRACE(testing::Message() << bits << " bits, " << w << " x " << h << ", angle " << angle);
            Dib src(CreateDIB(w, h, bits, 0));
            {
                Locked p(src.get());
                for (size_t i = 40; i < GlobalSize(src.get()); ++i)
                    p.get()[i] = uint8_t(rng());
            }
            const int a = kelm::normalise_angle(angle);
            if (a == 900 || a == 1800 || a == 2700)
                continue;
            Dib got(RotateDIB(src.get(), angle, RGB(9, 99, 199)));
            ASSERT_TRUE(got);
            const auto box = kelm_test::geom::model_rotate_box(w, h, angle);
            kelm::ROTATEPARAMS rp{{LONG(box.left), LONG(box.top), LONG(box.right), LONG(box.bottom)}, box.sine,
                                  box.cosine};
            Dib want(CreateCompatibleDIB(src.get(), UINT(box.right - box.left + 1), LONG(box.top - box.bottom + 1)));
            ASSERT_EQ(kelm::transform_dib(src.get(), want.get(), kelm::RotateMapProc, nullptr, &rp, RGB(9, 99, 199)), 1);
            EXPECT_TRUE(same_block(got.get(), want.get()));
        }
}

TEST(GeometryWalk, StretchEqualsTransformWithStretchMapProc)
{
    std::mt19937 rng(23);
    for (int round = 0; round < 400; ++round) {
        const WORD sb = WORD(8 << (rng() % 3)), db = (round & 1) ? sb : WORD(8 << (rng() % 3));
        const int sw = 1 + int(rng() % 20), sh = 1 + int(rng() % 20), dw = 1 + int(rng() % 20), dh = 1 + int(rng() % 20);
        auto pick = [&](int lim) { return int(rng() % unsigned(2 * lim + 8)) - lim - 4; };
        // cyDst 1 or a rectangle reaching outside sends the stretch down the
        // general path.
        kelm::STRETCHPARAMS p{pick(dw), pick(dh), pick(dw), (round % 3) ? pick(dh) : 1,
                              pick(sw), pick(sh), pick(sw), pick(sh)};
        if (p.cxDst == 0 || p.cyDst == 0)
            continue;
        SCOPED_TRACE(testing::Message() << round);
        Dib src(CreateDIB(sw, sh, sb, 0));
        {
            Locked s(src.get());
            for (size_t i = 40; i < GlobalSize(src.get()); ++i)
                s.get()[i] = uint8_t(rng());
        }
        Dib dst(CreateDIB(dw, dh, db, 0));
        Dib want(CopyHandle(dst.get()));
        const kelm_test::geom::Rect8 r{p.xDst, p.yDst, p.cxDst, p.cyDst, p.xSrc, p.ySrc, p.cxSrc, p.cySrc};
        if (kelm_test::geom::model_stretch_fast_applies(kelm_test::geom::info_of(src.get()),
                                                        kelm_test::geom::info_of(dst.get()), r))
            continue;
        EXPECT_EQ(kelm::stretch_dib_to_dib(dst.get(), p, src.get()), 1);
        EXPECT_EQ(kelm::transform_dib(src.get(), want.get(), kelm::StretchMapProc, nullptr, &p, 0x00FFFFFF), 1);
        EXPECT_TRUE(same_block(dst.get(), want.get()));
    }
}
