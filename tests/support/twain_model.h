// The test data source's contract, shared by the source (twain_test_ds.cpp)
// and the tests: the settings it reads from the environment, the picture it
// scans, and the log it writes of every call it receives.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace kelm_test::tds {

// Environment variables (read with GetEnvironmentVariableA on Windows).
constexpr const char* kImages = "KELM3_TDS_IMAGES";    // images per batch (1)
constexpr const char* kWidth = "KELM3_TDS_WIDTH";      // pixels (13)
constexpr const char* kHeight = "KELM3_TDS_HEIGHT";    // pixels (5)
constexpr const char* kBits = "KELM3_TDS_BITS";        // 1, 8 or 24; else from the pixel type (24)
constexpr const char* kXRes = "KELM3_TDS_XRES";        // image information XResolution.Whole (300)
constexpr const char* kYRes = "KELM3_TDS_YRES";        // YResolution.Whole (300)
constexpr const char* kXfers = "KELM3_TDS_XFERS";      // per image: ok, cancel, fail, low, baddib
constexpr const char* kEnable = "KELM3_TDS_ENABLE";    // xfer (default), closereq, none
constexpr const char* kFail = "KELM3_TDS_FAIL";        // open:CC, enable, pixeltype, layout, imageinfo, endxfer, units, xres, yres
constexpr const char* kLog = "KELM3_TDS_LOG";          // file that gets one line per call

constexpr const char* kProductName = "kelm3 test source";
// The pixels-per-metre the source writes into every header it makes.
constexpr int32_t kSourcePelsPerMeter = 1234;

// Sample c (0 blue, 1 green, 2 red) of pixel (x, stored row y) of image n.
inline uint8_t sample(int n, int x, int y, int c)
{
    return static_cast<uint8_t>(x * 7 + y * 13 + n * 31 + c * 50);
}
// Pixel of a 1-bit image (0 black, 1 white).
inline int bit(int n, int x, int y)
{
    return (x + y + n) & 1;
}

// One logged call: "DG DAT MSG rest" with DAT and MSG in hex.
struct LogLine {
    unsigned dg = 0, dat = 0, msg = 0;
    std::string rest;
};

inline std::vector<LogLine> read_log(const std::string& path)
{
    std::vector<LogLine> lines;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f)
        return lines;
    char buf[512];
    while (std::fgets(buf, sizeof buf, f)) {
        LogLine l;
        int used = 0;
        if (std::sscanf(buf, "%u %x %x%n", &l.dg, &l.dat, &l.msg, &used) >= 3) {
            std::string rest(buf + used);
            while (!rest.empty() && (rest.back() == '\n' || rest.back() == '\r'))
                rest.pop_back();
            if (!rest.empty() && rest.front() == ' ')
                rest.erase(0, 1);
            l.rest = rest;
            lines.push_back(l);
        }
    }
    std::fclose(f);
    return lines;
}

}  // namespace kelm_test::tds
