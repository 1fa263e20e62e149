// Metafile rotation on Linux: enhanced-metafile records against the
// reference model (here GDI copies records as they are, so the whole record
// stream is compared), the matrix over every angle, the record walkers, and
// the Linux metafile layer's own behaviour (bounds, frame, description,
// handle tables, beeps).
#include <gtest/gtest.h>

#include <random>
#include <set>

#include "metafile/metafile.h"
#include "platform/linux/metafile_dc.h"
#include "support/metafile_model.h"

using namespace kelm_test::meta;

namespace {

std::vector<uint8_t> cat(std::initializer_list<std::vector<uint8_t>> parts)
{
    std::vector<uint8_t> out;
    for (const auto& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

std::vector<uint8_t> pts16(std::initializer_list<int16_t> v)
{
    std::vector<uint8_t> b;
    for (int16_t x : v)
        b.push_back(uint8_t(x)), b.push_back(uint8_t(uint16_t(x) >> 8));
    while (b.size() % 4)
        b.push_back(0);
    return b;
}

std::vector<uint8_t> logfontw(int escapement)
{
    std::vector<uint8_t> b = le32({-20, 0, escapement, escapement, 400, 0, 0});
    b.resize(92, 0);
    b[28] = 'A';
    return b;
}

// Every record type the rotation rewrites, and some it copies.
std::vector<EmfRec> emf_picture()
{
    return {
        {25, le32({0x00FF})},  // SETBKCOLOR: copied
        {82, cat({le32({1}), logfontw(300)})},
        {37, le32({1})},
        {2, le32({0, 0, 100, 100, 4, 1, 2, 30, 40, 50, 60, 70, 80})},
        {3, le32({10, 20, 100, 80, 3, 10, 20, 100, 20, 50, 80})},
        {4, le32({5, 5, 300, 250, 2, 5, 5, 300, 250})},
        {5, le32({0, 0, 9, 9, 1, 9, 9})},
        {6, le32({0, 0, 9, 9, 1, 8, 7})},
        {7, le32({0, 0, 9, 9, 2, 5, 3, 2, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10})},
        {8, le32({0, 0, 9, 9, 1, 2, 2, 11, 12, 13, 14})},
        {10, le32({-50, 20})},
        {27, le32({20, 10})},
        {54, le32({200, 100})},
        {29, le32({1, 2, 3, 4})},
        {30, le32({5, 6, 7, 8})},
        {42, le32({40, 30, 130, 120})},
        {43, le32({60, 50, 350, 250})},
        {44, le32({50, 40, 160, 150, 24, 10})},
        {45, le32({30, 20, 110, 100, 8, 7, 6, 5})},
        {46, le32({31, 21, 111, 101, 18, 17, 16, 15})},
        {47, le32({32, 22, 112, 102, 28, 27, 26, 25})},
        {55, le32({33, 23, 113, 103, 38, 37, 36, 35})},
        {84, cat({le32({0, 0, 50, 20, 1, 0, 0, 44, 33, 2, 76, 2, 1, 2, 300, 200, 80}), pts16({'h', 'i'}),
                  le32({8, 8})})},
        {84, cat({le32({0, 0, 50, 20, 1, 0, 0, 45, 34, 2, 76, 0, 0, 0, 0, 0, 80}), pts16({'h', 'i'}),
                  le32({8, 8})})},
        {85, cat({le32({0, 0, 9, 9, 4}), pts16({1, 2, 30, 40, 50, 60, 70, 80})})},
        {86, cat({le32({10, 20, 100, 80, 3}), pts16({10, 20, 100, 20, 50, 80})})},
        {87, cat({le32({5, 5, 300, 250, 2}), pts16({5, 5, 30000, 250})})},
        {88, cat({le32({0, 0, 9, 9, 1}), pts16({9, 9})})},
        {89, cat({le32({0, 0, 9, 9, 1}), pts16({8, 7})})},
        {90, cat({le32({0, 0, 9, 9, 2, 5, 3, 2}), pts16({1, 2, 3, 4, 5, 6, 7, 8, 9, 10})})},
        {91, cat({le32({0, 0, 9, 9, 1, 2, 2}), pts16({11, 12, 13, 14})})},
        {92, cat({le32({0, 0, 9, 9, 2}), pts16({1, 2, 3, 4}), std::vector<uint8_t>{6, 2, 0, 0}})},
        {40, le32({1})},
    };
}

std::vector<EmfRec> drawing(const std::vector<EmfRec>& v)
{
    std::vector<EmfRec> out;
    for (const auto& r : v)
        if (r.type != 1 && r.type != 14)
            out.push_back(r);
    return out;
}

HENHMETAFILE emf_handle(const std::vector<EmfRec>& recs, RECT bounds = {0, 0, 399, 299},
                        const std::u16string& desc = u"")
{
    const auto b = emf_bytes(recs, bounds, 2, desc);
    return SetEnhMetaFileBits(UINT(b.size()), b.data());
}

}  // namespace

TEST(MetafileMatrix, EveryAngleAgainstTheModel)
{
    for (int32_t angle = -3600; angle <= 7200; ++angle) {
        int32_t c, s;
        kelm::meta_cos_sin(angle, &c, &s);
        const Matrix m = matrix(angle, false);
        ASSERT_EQ(c, m.m00) << angle;
        ASSERT_EQ(s, m.m01) << angle;
    }
    const struct {
        int32_t angle, c, s;
    } worked[] = {{0, 1000, 0}, {900, 0, 1000}, {1800, -1000, 0}, {450, 707, 707}, {300, 866, 500}, {600, 500, 866}};
    for (const auto& w : worked) {
        int32_t c, s;
        kelm::meta_cos_sin(w.angle, &c, &s);
        EXPECT_EQ(c, w.c) << w.angle;
        EXPECT_EQ(s, w.s) << w.angle;
    }
}

TEST(EnhMetafileRotate, EveryRecordTypeAgainstTheModel)
{
    for (int32_t angle : {0, 900, 1800, 2700, 450, 300, -900, 1234, 3599}) {
        SCOPED_TRACE(angle);
        const auto src = emf_picture();
        HENHMETAFILE h = emf_handle(src);
        ASSERT_NE(h, nullptr);
        const std::size_t beeps = kelm::testing::message_beeps();
        HENHMETAFILE out = RotateEnhMetaFile(h, angle);
        ASSERT_NE(out, nullptr);
        EXPECT_EQ(kelm::testing::message_beeps(), beeps);
        const Matrix m = matrix(angle, false);
        std::vector<EmfRec> expected;
        for (const EmfRec& r : src)
            if (auto e = emf_expected(m, r))
                expected.push_back(*e);
        EXPECT_EQ(drawing(emf_parse(emf_of(out))), expected);
        DeleteEnhMetaFile(out);
        DeleteEnhMetaFile(h);
    }
}

TEST(EnhMetafileRotate, QuarterTurnBoundsDescriptionAndBeeps)
{
    const std::u16string desc(u"kelm\0picture\0\0", 14);
    HENHMETAFILE h = emf_handle({{43, le32({60, 50, 350, 250})},
                                 {96, le32({0, 0, -1, -1, 1, 0, 0, 0})},
                                 {97, le32({0, 0, -1, -1, 1, 0, 0, 0})}},
                                {60, 50, 349, 249}, desc);
    ASSERT_NE(h, nullptr);
    const std::size_t beeps = kelm::testing::message_beeps();
    HENHMETAFILE out = RotateEnhMetaFile(h, 900);
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(kelm::testing::message_beeps(), beeps + 2);
    const auto recs = drawing(emf_parse(emf_of(out)));
    ASSERT_EQ(recs.size(), 3u);
    // (x, y) becomes (y, -x): the box lies at negative y, in order.
    EXPECT_EQ(recs[0], (EmfRec{43, le32({50, -350, 250, -60})}));
    EXPECT_EQ(recs[1].type, 96u);
    EXPECT_EQ(recs[2].type, 97u);
    ENHMETAHEADER hdr;
    ASSERT_EQ(GetEnhMetaFileHeader(out, sizeof hdr, &hdr), sizeof hdr);
    EXPECT_EQ(hdr.rclBounds.left, 50);
    EXPECT_EQ(hdr.rclBounds.top, -350);
    EXPECT_EQ(hdr.rclBounds.right, 249);
    EXPECT_EQ(hdr.rclBounds.bottom, -61);
    // The frame: the bounds in 0.01 mm of the 1024 x 768 pixel, 320 x 240 mm
    // screen, right and bottom one pixel out.
    EXPECT_EQ(hdr.rclFrame.left, 50 * 32000 / 1024);
    EXPECT_EQ(hdr.rclFrame.right, 250 * 32000 / 1024);
    EXPECT_EQ(hdr.rclFrame.top, -350 * 24000 / 768);
    char text[64] = {};
    ASSERT_EQ(GetEnhMetaFileDescriptionA(out, sizeof text, text), 14u);
    EXPECT_EQ(std::string(text, 14), std::string("kelm\0picture\0\0", 14));
    DeleteEnhMetaFile(out);
    DeleteEnhMetaFile(h);
}

TEST(EnhMetafileRotate, StretchedBitmapIsTurnedIntoTheTurnedRectangle)
{
    HGLOBAL dib = CreateDIB(3, 2, 24, 0);
    std::vector<uint8_t> bytes(GlobalSize(dib));
    std::memcpy(bytes.data(), GlobalLock(dib), bytes.size());
    GlobalUnlock(dib);
    const auto head = le32({0, 0, 0, 0, 50, 40, 0, 0, 3, 2, 80, 40, 120, int32_t(bytes.size() - 40), 0,
                            int32_t(SRCCOPY), 30, 20});
    HENHMETAFILE h = emf_handle({{81, cat({head, bytes})}});
    HENHMETAFILE out = RotateEnhMetaFile(h, 900);
    const auto recs = drawing(emf_parse(emf_of(out)));
    ASSERT_EQ(recs.size(), 1u);
    const auto& b = recs[0].body;
    // Destination (50, 40)-(80, 60) turns to (40, -80)-(60, -50); the source
    // size 3 x 2 to 2 x 3.
    EXPECT_EQ(get32(b, 16), 40);
    EXPECT_EQ(get32(b, 20), -80);
    EXPECT_EQ(get32(b, 64), 20);
    EXPECT_EQ(get32(b, 68), 30);
    EXPECT_EQ(get32(b, 32), 2);
    EXPECT_EQ(get32(b, 36), 3);
    BITMAPINFOHEADER bi;
    std::memcpy(&bi, b.data() + get32(b, 40) - 8, sizeof bi);
    EXPECT_EQ(bi.biWidth, 2);
    EXPECT_EQ(bi.biHeight, 3);
    EXPECT_EQ(bi.biSizeImage, 3u * 8u);
    DeleteEnhMetaFile(out);
    DeleteEnhMetaFile(h);
    DIBFree(dib);
}

// A bitmap is turned at full resolution, so the turned image may hold at
// most 20 times the record's pixels, or 2^24 pixels: a long thin bitmap at an
// odd angle, a small record that would turn into hundreds of megabytes, is
// left out; the same bitmap at a right angle, or a fatter one, is drawn.
TEST(EnhMetafileRotate, BitmapsThatWouldGrowTooMuchWhenTurnedAreLeftOut)
{
    struct Case {
        int32_t width, height, angle;
        bool drawn;
    } cases[] = {
        {100000, 1, 450, false},  // 5 * 10^9 pixels from 10^5
        {100000, 1, 900, true},
        {100000, 1, 1800, true},
        {4000, 1, 450, true},     // 8 * 10^6: under the floor
        {6000, 300, 450, true},   // 19.8 * 10^6, 11 times the record's
        {6000, 100, 450, false},  // 18.6 * 10^6, 31 times the record's
        {6000, 100, 1, true},     // a tenth of a degree: 12.9 * 10^6
        {0, 16000000, 900, false},  // no pixels: it would turn into a white box
        {16000000, 0, 900, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.width << " x " << c.height << " at " << c.angle);
        HGLOBAL dib = CreateDIB(c.width, c.height, 1, 0);
        ASSERT_NE(dib, nullptr);
        std::vector<uint8_t> bytes(GlobalSize(dib));
        std::memcpy(bytes.data(), GlobalLock(dib), bytes.size());
        GlobalUnlock(dib);
        DIBFree(dib);
        const auto head = le32({0, 0, 0, 0, 50, 40, 0, 0, c.width, c.height, 80, 48, 128,
                                int32_t(bytes.size() - 48), 0, int32_t(SRCCOPY), 30, 20});
        HENHMETAFILE h = emf_handle({{81, cat({head, bytes})}});
        ASSERT_NE(h, nullptr);
        HENHMETAFILE out = RotateEnhMetaFile(h, c.angle);
        ASSERT_NE(out, nullptr);
        EXPECT_EQ(drawing(emf_parse(emf_of(out))).size(), c.drawn ? 1u : 0u);
        DeleteEnhMetaFile(out);
        DeleteEnhMetaFile(h);
    }
}

// Every rewritten record cut short by 4, 8, ... bytes, and records whose
// counts, offsets or slots point outside them: left out, never read past.
TEST(EnhMetafileRotate, ShortAndHostileRecordsAreLeftOut)
{
    std::set<uint32_t> copiedAnyway = {25, 37, 40};
    for (const EmfRec& r : emf_picture()) {
        if (copiedAnyway.count(r.type))
            continue;
        for (size_t n = 0; n < r.body.size(); n += 4) {
            SCOPED_TRACE(::testing::Message() << r.type << " with " << n << " bytes");
            HENHMETAFILE h = emf_handle({{r.type, std::vector<uint8_t>(r.body.begin(), r.body.begin() + long(n))}});
            ASSERT_NE(h, nullptr);
            HENHMETAFILE out = RotateEnhMetaFile(h, 450);
            ASSERT_NE(out, nullptr);
            for (const EmfRec& o : emf_parse(emf_of(out)))
                EXPECT_NE(o.type, r.type);
            DeleteEnhMetaFile(out);
            DeleteEnhMetaFile(h);
        }
    }
    const std::vector<EmfRec> hostile = {
        {3, le32({0, 0, 1, 1, 0x7FFFFFFF, 1, 2})},
        {7, le32({0, 0, 1, 1, 0x40000000, 1, 2, 3})},
        {8, le32({0, 0, 1, 1, 1, 1, -1, 1, 2})},
        {84, cat({le32({0, 0, 50, 20, 1, 0, 0, 44, 33, 1000, 76, 0, 0, 0, 0, 0, 0})})},
        {81, le32({0, 0, 0, 0, 50, 40, 0, 0, 3, 2, 80, -1, 120, 0x7FFFFFF0, 0, 0, 30, 20})},
        {38, le32({2, 0, 1, 0, 0})},   // slot beyond the table of 2
        {37, le32({0})},               // slot 0 is the metafile itself
    };
    for (const EmfRec& r : hostile) {
        SCOPED_TRACE(r.type);
        HENHMETAFILE h = emf_handle({r});
        HENHMETAFILE out = RotateEnhMetaFile(h, 900);
        ASSERT_NE(out, nullptr);
        for (const EmfRec& o : emf_parse(emf_of(out)))
            EXPECT_NE(o.type, r.type);
        DeleteEnhMetaFile(out);
        DeleteEnhMetaFile(h);
    }
}

TEST(MetafileWalkers, StopAtTheFirstRecordThatDoesNotFit)
{
    auto b = wmf_bytes({{0x0213, {1, 2}}, {0x0214, {3, 4}}});
    EXPECT_EQ(kelm::wmf_records(b.data(), b.size()).size(), 2u);
    b[18] = 2;  // first record: 2 words, below its own header
    EXPECT_EQ(kelm::wmf_records(b.data(), b.size()).size(), 0u);
    b[18] = 0xFF;  // past the end
    EXPECT_EQ(kelm::wmf_records(b.data(), b.size()).size(), 0u);
    EXPECT_EQ(kelm::wmf_records(b.data(), 17).size(), 0u);

    auto e = emf_bytes({{27, le32({1, 2})}}, {0, 0, 1, 1});
    EXPECT_EQ(kelm::emf_records(e.data(), e.size()).size(), 3u);
    put32(e, 108 + 4, 15);  // not a multiple of 4
    EXPECT_EQ(kelm::emf_records(e.data(), e.size()).size(), 1u);
}

TEST(LinuxMetafiles, RecordingAndPlayingThroughTheHandleTable)
{
    // A pen selected twice is recorded once; playing the metafile into a
    // second recording DC creates, selects and deletes through the table.
    HDC dc = CreateMetaFileA(nullptr);
    ASSERT_NE(dc, nullptr);
    HPEN pen = CreatePen(PS_SOLID, 1, RGB(255, 0, 0));
    SelectObject(dc, pen);
    LineTo(dc, 5, 6);
    SelectObject(dc, pen);
    DeleteObject(pen);
    HMETAFILE mf = CloseMetaFile(dc);
    auto recs = wmf_parse(wmf_of(mf));
    ASSERT_EQ(recs.size(), 5u);
    EXPECT_EQ(recs[0].fn, 0x02FA);
    EXPECT_EQ(recs[1], (WmfRec{0x012D, {0}}));
    EXPECT_EQ(recs[2], (WmfRec{0x0213, {6, 5}}));
    EXPECT_EQ(recs[3], (WmfRec{0x012D, {0}}));
    EXPECT_EQ(recs[4], (WmfRec{0x01F0, {0}}));
    const auto bits = wmf_of(mf);
    EXPECT_EQ(bits[10], 1);  // mtNoObjects

    HDC copy = CreateMetaFileA(nullptr);
    EXPECT_TRUE(EnumMetaFile(
        copy, mf,
        [](HDC hdc, HANDLETABLE* t, METARECORD* r, int n, LPARAM) {
            return PlayMetaFileRecord(hdc, t, r, UINT(n)) ? 1 : 0;
        },
        0));
    HMETAFILE again = CloseMetaFile(copy);
    EXPECT_EQ(wmf_parse(wmf_of(again)), recs);
    DeleteMetaFile(again);
    DeleteMetaFile(mf);
    EXPECT_EQ(SetMetaFileBitsEx(10, bits.data()), nullptr);
    const uint8_t placeable[22] = {0xD7, 0xCD, 0xC6, 0x9A};
    EXPECT_EQ(SetMetaFileBitsEx(sizeof placeable, placeable), nullptr);
}
