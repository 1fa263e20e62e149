// The barcode decoders on hand-built run lists: every rule of the scanners at
// both sides of its limit, each symbol read forwards and reversed, ink spread,
// quiet zones and check digits; run-list extraction; the result list.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "barcode/barcode.h"
#include "platform/platform.h"
#include "support/barcode_model.h"

namespace {

using kelm_test::Elements;
using Runs = std::vector<uint32_t>;

struct Event {
    int event;
    int position;
    std::string text;
    DWORD flags;
};
std::vector<Event>* g_events = nullptr;
BOOL g_answer = TRUE;

BOOL WINAPI record(int event, int position, LPCSTR text, DWORD flags, DWORD, DWORD reserved)
{
    EXPECT_EQ(reserved, 0u);
    g_events->push_back({event, position, text, flags});
    return g_answer;
}

// A scan state over the internal list, with the recording callback.
struct Scan {
    kelm::BarcodeScan s{};
    std::vector<Event> events;
    explicit Scan(DWORD flags, int listSize = kelm::kInternalListSize)
    {
        s.flags = flags;
        s.list = s.internalList;
        s.listSize = listSize;
        s.callback = record;
        g_events = &events;
        g_answer = TRUE;
    }
    // The codes heard of, as "text|bits".
    std::vector<std::string> codes() const
    {
        std::vector<std::string> out;
        for (const Event& e : events)
            if (e.event == DBC_EVENT_CODE)
                out.push_back(e.text + "|" + std::to_string(e.flags));
        return out;
    }
    // The result list's entries.
    std::vector<std::string> list() const
    {
        std::vector<std::string> out;
        for (const char* p = s.list; *p; p += std::strlen(p) + 1)
            out.push_back(p);
        return out;
    }
};

// Decodes one line as the scan driver does, the run list and then its
// reverse, for the symbol as built and for the symbol turned end to end; both
// must hear of exactly `expected` (empty: nothing).
void expect_both_ways(DWORD flags, const Runs& runs, const std::vector<std::string>& expected)
{
    Runs r = runs;
    for (int pass = 0; pass < 2; ++pass) {
        SCOPED_TRACE(pass ? "symbol turned" : "symbol as built");
        Scan scan(flags);
        Runs line = r;
        kelm::decode_line(scan.s, line.data(), static_cast<int>(line.size()));
        std::reverse(line.begin(), line.end());
        kelm::decode_line(scan.s, line.data(), static_cast<int>(line.size()));
        EXPECT_EQ(scan.codes(), expected);
        EXPECT_EQ(scan.s.found, expected.empty() ? 0 : 1);
        std::reverse(r.begin(), r.end());
    }
}

constexpr DWORD kAll = DBC_CODE39 | DBC_I2OF5 | DBC_EAN13 | DBC_EAN8 | DBC_EAN5_ADDON | DBC_EAN2_ADDON;

// --- run lists -------------------------------------------------------------

TEST(ExtractRuns, BinarisesGreenAndAddsBorderRuns)
{
    struct Case {
        const char* name;
        std::vector<Rgbq16> px;
        Runs expected;
    };
    const Rgbq16 L{0, 0x8001, 0, 0}, D{0xFFFF, 0x8000, 0xFFFF, 0xFFFF};
    const Rgbq16 red{0, 0, 0xFFFF, 0}, blue{0xFFFF, 0, 0, 0}, white{0xFFFF, 0xFFFF, 0xFFFF, 0};
    const Case cases[] = {
        {"no pixels", {}, {1000}},
        {"all light", {L, L, L}, {1000}},
        {"all dark", {D, D}, {1000, 2, 1000}},
        {"dark first", {D, L, L, D}, {1000, 1, 2, 1, 1000}},
        {"light first, light last", {L, L, D, D, D, L, L, L}, {1002, 3, 1000}},
        {"0x8000 dark, 0x8001 light", {D, L}, {1000, 1, 1000}},
        {"red and blue are dark", {white, red, blue, white}, {1001, 2, 1000}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Runs runs(c.px.size() + 2, 0xDEAD);
        const int n = kelm::extract_runs(c.px.data(), static_cast<int>(c.px.size()), runs.data());
        runs.resize(static_cast<size_t>(n));
        EXPECT_EQ(runs, c.expected);
    }
}

TEST(BarcodeMulDiv, AgreesWithMulDivAndKeepsItsRoundingBeyond32Bits)
{
    const int64_t cases[][3] = {{7, 5, 100}, {150, 1, 100}, {250, 1, 100}, {-150, 1, 100}, {1, 180, 100},
                                {12345, 180, 100}, {INT32_MAX, 1, 2}, {1000, 1000, 3}, {5, 1000, 4}};
    for (const auto& c : cases)
        EXPECT_EQ(kelm::bc_muldiv(c[0], c[1], c[2]),
                  kelm::MulDiv(static_cast<int>(c[0]), static_cast<int>(c[1]), static_cast<int>(c[2])))
            << c[0] << " " << c[1] << " " << c[2];
    EXPECT_EQ(kelm::bc_muldiv(int64_t{5000000000}, 5, 100), 250000000);
    EXPECT_EQ(kelm::bc_muldiv(int64_t{3000000050}, 1, 100), 30000001);  // half rounds away from zero
    EXPECT_EQ(kelm::bc_muldiv(int64_t{-3000000050}, 1, 100), -30000001);
}

// --- Code 39 -----------------------------------------------------------------

Runs code39(const std::string& text, uint32_t n = 2, uint32_t w = 5, uint32_t q = 40, uint32_t gap = 2)
{
    return kelm_test::run_list(q, kelm_test::code39_elements(text, n, w, gap), q);
}

TEST(Code39, DecodesEveryCharacterBothWays)
{
    const std::string all = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ -.$/+%";
    expect_both_ways(kAll, code39(all), {all + "|256"});
    expect_both_ways(kAll, code39("A", 3, 9, 60, 3), {"A|256"});
}

TEST(Code39, Rules)
{
    struct Case {
        const char* name;
        Runs runs;
        std::vector<std::string> expected;
    };
    // narrow 2, wide 5: W = 500, quiet zones need 25 pixels, gaps at most 20.
    Runs gapAfterStart = code39("AB");
    gapAfterStart[10] = 500;  // the gap after "*" is not tested
    Runs wideGap = code39("AB"), wideGapLimit = code39("AB");
    wideGap[20] = 21;
    wideGapLimit[20] = 20;
    Runs tooWide = code39("AB"), wideLimit = code39("AB");
    tooWide[12] = 11;    // an element over 2 W
    wideLimit[12] = 10;  // exactly 2 W
    Runs noStart = kelm_test::run_list(40, kelm_test::code39_elements("AB*", 2, 5, 2, false), 40);
    const Case cases[] = {
        {"leading quiet zone of 5 wide", code39("AB", 2, 5, 25), {"AB|256"}},
        {"leading quiet zone short", kelm_test::run_list(24, kelm_test::code39_elements("AB", 2, 5, 2), 40), {}},
        {"trailing quiet zone short", kelm_test::run_list(40, kelm_test::code39_elements("AB", 2, 5, 2), 24), {}},
        {"quiet zone must exceed 10 px", code39("AB", 1, 2, 10), {}},
        {"quiet zone of 11 px", code39("AB", 1, 2, 11), {"AB|256"}},
        {"wide 1.8 narrow refused", code39("AB", 10, 18, 100, 10), {}},
        {"wide 1.9 narrow accepted", code39("AB", 10, 19, 100, 10), {"AB|256"}},
        {"over-wide gap after start", gapAfterStart, {"AB|256"}},
        {"gap of 4 wide", wideGapLimit, {"AB|256"}},
        {"gap over 4 wide", wideGap, {}},
        {"element of 2 wide", wideLimit, {}},  // read as wide: a pattern of 4 wide is no character
        {"element over 2 wide", tooWide, {}},
        {"no start character", noStart, {}},
        {"empty symbol", code39(""), {"|256"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Scan scan(DBC_CODE39);
        kelm::decode_line(scan.s, c.runs.data(), static_cast<int>(c.runs.size()));
        EXPECT_EQ(scan.codes(), c.expected);
    }
}

TEST(Code39, TextBufferHolds255Characters)
{
    const std::string fits(255, 'K'), over(256, 'K');
    expect_both_ways(DBC_CODE39, code39(fits), {fits + "|256"});
    expect_both_ways(DBC_CODE39, code39(over), {});
}

// --- Interleaved 2 of 5 --------------------------------------------------------

Runs itf(const std::string& digits, uint32_t n = 2, uint32_t w = 5, uint32_t q = 40)
{
    return kelm_test::run_list(q, kelm_test::i2of5_elements(digits, n, w), q);
}

TEST(Interleaved2of5, Rules)
{
    struct Case {
        const char* name;
        Runs runs;
        std::vector<std::string> expected;
    };
    // narrow 2, wide 5: W = 500, the stop needs a light run over 10 pixels.
    Runs wideStart = itf("1234");
    wideStart[2] = 5;
    Runs badPair = itf("1234");
    badPair[7] = 5;  // three wide bars in the first pair
    const Case cases[] = {
        {"every digit", itf("0123456789"), {"0123456789|64"}},
        {"wider ratio", itf("5522", 3, 9, 60), {"5522|64"}},
        {"stop before a light run of 2 W", kelm_test::run_list(40, kelm_test::i2of5_elements("1234", 2, 5), 10), {}},
        {"stop before a light run over 2 W", kelm_test::run_list(40, kelm_test::i2of5_elements("1234", 2, 5), 11), {"1234|64"}},
        {"leading quiet zone under 5 W", kelm_test::run_list(24, kelm_test::i2of5_elements("1234", 2, 5), 40), {}},
        {"quiet zones of 5 W", itf("1234", 2, 5, 25), {"1234|64"}},
        {"wide 1.8 narrow refused", itf("1234", 10, 18, 200), {}},
        {"wide element in the start", wideStart, {}},
        {"bad digit pattern", badPair, {}},
        {"no digits", itf(""), {}},  // no first pair to measure the wide width on
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Scan scan(DBC_I2OF5);
        kelm::decode_line(scan.s, c.runs.data(), static_cast<int>(c.runs.size()));
        EXPECT_EQ(scan.codes(), c.expected);
    }
    expect_both_ways(kAll, itf("0123456789"), {"0123456789|64"});
    expect_both_ways(kAll, itf("90", 4, 12, 80), {"90|64"});
}

TEST(Interleaved2of5, TextBufferHolds254Digits)
{
    const std::string fits(254, '7'), over(256, '7');
    expect_both_ways(DBC_I2OF5, itf(fits), {fits + "|64"});
    expect_both_ways(DBC_I2OF5, itf(over), {});
}

// --- EAN family ------------------------------------------------------------------

std::string ean13_digits(const std::string& twelve)
{
    return twelve + static_cast<char>('0' + kelm_test::ean13_check(twelve));
}

Runs ean13(const std::string& digits, uint32_t module = 2, int spread = 0, uint32_t q = 0)
{
    if (!q)
        q = std::max(11u, 12 * module);  // quiet zones over 5 modules and over 10 px
    return kelm_test::run_list(q, kelm_test::modules_to_elements(kelm_test::ean13_modules(digits), module, spread), q);
}

TEST(Ean13, DecodesBothWaysWithInkSpread)
{
    const std::string digits[] = {"5901234123457", "0000000000000", "4006381333931", ean13_digits("978030640615"),
                                  ean13_digits("123456789012"), ean13_digits("999999999999")};
    for (const std::string& d : digits) {
        SCOPED_TRACE(d);
        // Module width, bar growth at each edge pair, whether it decodes.
        // The whole mean difference comes off each bar, which mirrors the
        // spread rather than halving it: a third of a module is too much.
        const struct {
            uint32_t module;
            int spread;
            bool decodes;
        } widths[] = {{1, 0, true}, {2, 0, true}, {3, 0, true}, {8, 1, true}, {8, -1, true}, {16, 2, true}, {3, 1, false}};
        for (const auto& w : widths) {
            SCOPED_TRACE(testing::Message() << "module " << w.module << " spread " << w.spread);
            expect_both_ways(DBC_EAN13, ean13(d, w.module, w.spread), w.decodes ? std::vector<std::string>{d + "|2"}
                                                                                : std::vector<std::string>{});
        }
        expect_both_ways(DBC_EAN8 | DBC_CODE39 | DBC_I2OF5, ean13(d), {});
    }
}

TEST(Ean13, Rules)
{
    struct Case {
        const char* name;
        Runs runs;
        std::vector<std::string> expected;
    };
    Runs wrongCheck = ean13("5901234123458");
    const std::string m = kelm_test::ean13_modules("5901234123457");
    Runs badGuard = kelm_test::run_list(30, kelm_test::modules_to_elements("1" + m.substr(0, 45) + "00010" + m.substr(50), 2), 30);
    const Case cases[] = {
        {"valid", ean13("5901234123457"), {"5901234123457|2"}},
        {"wrong check digit", ean13("5901234123458"), {}},
        {"trailing quiet zone of 6 modules", kelm_test::run_list(30, kelm_test::modules_to_elements(m, 2), 12), {"5901234123457|2"}},
        {"trailing quiet zone of 5 modules", kelm_test::run_list(30, kelm_test::modules_to_elements(m, 2), 10), {}},
        {"leading light run of 11 px", ean13("5901234123457", 2, 0, 11), {"5901234123457|2"}},
        {"leading light run of 10 px", kelm_test::run_list(10, kelm_test::modules_to_elements(m, 2), 30), {}},
        {"broken centre guard", badGuard, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Scan scan(DBC_EAN13);
        kelm::decode_line(scan.s, c.runs.data(), static_cast<int>(c.runs.size()));
        EXPECT_EQ(scan.codes(), c.expected);
    }
}

TEST(Ean8, DecodesAndRefusesGPatternsAndWrongChecks)
{
    auto ean8 = [](const std::string& d, bool leftG = false, uint32_t module = 2, int spread = 0) {
        const uint32_t q = std::max(11u, 12 * module);
        return kelm_test::run_list(q, kelm_test::modules_to_elements(kelm_test::ean8_modules(d, leftG), module, spread), q);
    };
    for (const std::string seven : {"5512345", "9638507", "0000000", "1234567"}) {
        const std::string d = seven + static_cast<char>('0' + kelm_test::ean8_check(seven));
        SCOPED_TRACE(d);
        expect_both_ways(DBC_EAN8, ean8(d), {d + "|4"});
        expect_both_ways(DBC_EAN8, ean8(d, false, 8, 1), {d + "|4"});
        expect_both_ways(DBC_EAN8, ean8(d, false, 8, -1), {d + "|4"});
        expect_both_ways(DBC_EAN8, ean8(d, true), {});
        std::string wrong = d;
        wrong[7] = static_cast<char>('0' + (d[7] - '0' + 1) % 10);
        expect_both_ways(DBC_EAN8, ean8(wrong), {});
        expect_both_ways(DBC_EAN13, ean8(d), {});
    }
}

Runs with_addon(const std::string& digits, const std::string& addonModules, uint32_t gap = 18, uint32_t module = 2)
{
    Runs r = ean13(digits, module);
    r.back() = gap;
    kelm_test::append_symbol(r, kelm_test::modules_to_elements(addonModules, module), 30);
    return r;
}

TEST(EanAddOn, CombinedWithEan13AndAlone)
{
    const std::string d = "5901234123457";
    struct Case {
        const char* name;
        DWORD flags;
        Runs runs;
        std::vector<std::string> expected;
    };
    std::string badAddon = kelm_test::addon5_modules("12345");
    badAddon.replace(4, 7, kelm_test::ean_l(1) == badAddon.substr(4, 7) ? kelm_test::ean_g(1) : kelm_test::ean_l(1));
    const Case cases[] = {
        {"EAN-13 + 5", DBC_EAN13 | DBC_EAN5_ADDON, with_addon(d, kelm_test::addon5_modules("12345")),
         {d + "+12345|18", "12345|16"}},
        {"EAN-13 + 2", DBC_EAN13 | DBC_EAN2_ADDON, with_addon(d, kelm_test::addon2_modules("12")),
         {d + "+12|34", "12|32"}},
        {"EAN-13 + 2, other parities", DBC_EAN13 | DBC_EAN2_ADDON, with_addon(d, kelm_test::addon2_modules("07")),
         {d + "+07|34", "07|32"}},
        {"add-on not enabled", DBC_EAN13 | DBC_EAN2_ADDON, with_addon(d, kelm_test::addon5_modules("52495")), {d + "|2"}},
        {"add-on with a wrong parity", DBC_EAN13 | DBC_EAN5_ADDON, with_addon(d, badAddon), {d + "|2"}},
        {"add-ons alone", DBC_EAN5_ADDON | DBC_EAN2_ADDON,
         kelm_test::run_list(30, kelm_test::modules_to_elements(kelm_test::addon5_modules("90000"), 3), 30),
         {"90000|16"}},
        {"2-digit alone", DBC_EAN2_ADDON,
         kelm_test::run_list(100, kelm_test::modules_to_elements(kelm_test::addon2_modules("99"), 8, 1), 100),
         {"99|32"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Scan scan(c.flags);
        kelm::decode_line(scan.s, c.runs.data(), static_cast<int>(c.runs.size()));
        EXPECT_EQ(scan.codes(), c.expected);
    }
    // Every 5-digit checksum value and every 2-digit parity.
    for (const std::string a : {"00000", "10000", "20000", "30000", "40000", "50000", "60000", "70000", "80000",
                                "90000", "52495", "00"  , "01", "02", "03", "98"}) {
        SCOPED_TRACE(a);
        const std::string mod = a.size() == 5 ? kelm_test::addon5_modules(a) : kelm_test::addon2_modules(a);
        const DWORD bit = a.size() == 5 ? 0x10 : 0x20;
        expect_both_ways(DBC_EAN5_ADDON | DBC_EAN2_ADDON,
                         kelm_test::run_list(30, kelm_test::modules_to_elements(mod, 2), 30),
                         {a + "|" + std::to_string(bit)});
    }
}

TEST(EanModules, NeedOneModuleBarsAndSpaces)
{
    uint8_t m[95];
    int next = 0;
    // Two-module bars and one-module spaces: no one-module bar.
    const Runs noThinBar = {4, 2, 4, 2, 4, 2, 4, 40};
    EXPECT_FALSE(kelm::modules_from_runs(noThinBar.data(), 8, 2000, 10, m, &next));
    const Runs noThinSpace = {2, 4, 2, 4, 2, 40};
    EXPECT_FALSE(kelm::modules_from_runs(noThinSpace.data(), 6, 2000, 8, m, &next));
    // One-module bars of 5 px and spaces of 3 px at a 4 px module: a spread
    // of 2000 thousandths taken off the bars and given to the spaces.
    const Runs spread = {5, 3, 5, 7, 5, 40};
    ASSERT_TRUE(kelm::modules_from_runs(spread.data(), 6, 4000, 6, m, &next));
    EXPECT_EQ(std::string(m, m + 6), std::string("\1\0\1\0\0\1", 6));
    EXPECT_EQ(next, 5);
    // Runs out of entries before the modules are complete.
    EXPECT_FALSE(kelm::modules_from_runs(spread.data(), 6, 4000, 40, m, &next));
    // No quiet zone of more than 5 modules after the last module.
    const Runs shortQuiet = {5, 3, 5, 7, 5, 20};
    EXPECT_FALSE(kelm::modules_from_runs(shortQuiet.data(), 6, 4000, 6, m, &next));
    // Symbol width: the entries before the first of 5 guard modules or more.
    const Runs guard = {2, 2, 2, 4, 8, 2};
    EXPECT_EQ(kelm::symbol_width(guard.data(), 6, 3), 20000);  // 2 px modules: 8 px is not a quiet zone
    EXPECT_EQ(kelm::symbol_width(guard.data(), 6, 4), 10000);  // 1.5 px modules: it is
}

// --- the result list ----------------------------------------------------------

TEST(ReportCode, ListEntriesDuplicatesAndRoom)
{
    {
        Scan scan(0);
        kelm::report_code(scan.s, "5901234123457+12345", 0x12);
        kelm::report_code(scan.s, "ABC", 0x100);
        kelm::report_code(scan.s, "ABC", 0x100);
        kelm::report_code(scan.s, "ABC", 0x40);
        kelm::report_code(scan.s, "", 0x100);
        EXPECT_EQ(scan.list(), (std::vector<std::string>{"5901234123457+12345\tEAN 13\tEAN 5 AddOn", "ABC\t3 of 9",
                                                         "ABC\t2 of 5 interleaved"}));
        EXPECT_EQ(scan.codes().size(), 5u);  // every find, duplicates and the empty text too
        EXPECT_EQ(scan.s.found, 1);
        kelm::report_code(scan.s, "X", 0x1FE);
        EXPECT_EQ(scan.list().back(),
                  "X\t3 of 9\t2 of 5 interleaved\tEAN 13\tEAN 8\tEAN 5 AddOn\tEAN 2 AddOn");
    }
    {
        Scan scan(DBC_NEW_ONLY);
        kelm::report_code(scan.s, "ABC", 0x100);
        kelm::report_code(scan.s, "ABC", 0x100);
        kelm::report_code(scan.s, "", 0x100);
        EXPECT_EQ(scan.codes(), std::vector<std::string>{"ABC|256"});
    }
    // "AB\t3 of 9" is 9 bytes and needs a list of more than 0 + 9 + 2 bytes;
    // "C\t3 of 9" is 8 bytes and needs more than 8 + 2 at the start.
    const struct {
        int size;
        std::vector<std::string> list;
    } rooms[] = {{10, {}}, {11, {"C\t3 of 9"}}, {12, {"AB\t3 of 9"}}, {13, {"AB\t3 of 9"}}};
    for (const auto& r : rooms) {
        SCOPED_TRACE(r.size);
        Scan scan(DBC_NEW_ONLY, r.size);
        std::memset(scan.s.internalList, 0x55, sizeof scan.s.internalList);
        scan.s.internalList[0] = scan.s.internalList[1] = 0;
        kelm::report_code(scan.s, "AB", 0x100);
        kelm::report_code(scan.s, "C", 0x100);
        EXPECT_EQ(scan.list(), r.list);
        EXPECT_EQ(scan.codes().size(), r.list.size());  // only added entries are heard of
        EXPECT_EQ(scan.s.found, 1);
        EXPECT_EQ(static_cast<unsigned char>(scan.s.internalList[r.size - 1]), 0x55);  // the last byte stays unused
    }
}

TEST(ReportCode, CancelIsRecorded)
{
    Scan scan(0);
    g_answer = FALSE;
    kelm::report_code(scan.s, "A", 0x100);
    EXPECT_EQ(scan.s.cancel, 1u);
}

}  // namespace
