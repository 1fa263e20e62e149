// The commands that work on BMP files: `info`, `copy` and `pixel`. Files are
// loaded and saved by the library itself; only `info` also reads the stored
// header bytes directly, to show them as they are in the file.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "cli.h"

namespace kelm_cli {
namespace {

// Why a file cannot be loaded: the system's reason when it cannot even be
// opened, else the library's refusal.
std::string load_error(const std::string& path)
{
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f)
        return path + ": " + std::strerror(errno);
    std::fclose(f);
    return path + ": not a bitmap this library reads (unknown header, truncated header, or too large)";
}

HGLOBAL load(const std::string& path, std::string* error)
{
    HGLOBAL dib = LoadDIBFromFile(path.c_str());
    if (!dib)
        *error = load_error(path);
    return dib;
}

uint32_t le32(const unsigned char* p)
{
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
uint16_t le16(const unsigned char* p)
{
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

// The file header and bitmap header exactly as stored in the file.
struct StoredHeader {
    bool fileHeader = false;
    uint32_t bfSize = 0, bfOffBits = 0;
    bool haveHeader = false;
    BITMAPINFOHEADER bi{};  // a core header's fields are widened into it
    bool core = false;
    uint64_t fileSize = 0;
};

bool read_stored(const std::string& path, StoredHeader* out)
{
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f)
        return false;
    unsigned char buf[14 + 40] = {};
    size_t n = std::fread(buf, 1, sizeof buf, f);
    std::fseek(f, 0, SEEK_END);
    long size = std::ftell(f);
    std::fclose(f);
    StoredHeader s;
    s.fileSize = size > 0 ? static_cast<uint64_t>(size) : 0;
    size_t off = 0;
    if (n >= 14 && buf[0] == 'B' && buf[1] == 'M') {
        s.fileHeader = true;
        s.bfSize = le32(buf + 2);
        s.bfOffBits = le32(buf + 10);
        off = 14;
    }
    const unsigned char* h = buf + off;
    if (n >= off + 12 && le32(h) == 12) {
        s.core = true;
        s.haveHeader = true;
        s.bi.biSize = 12;
        s.bi.biWidth = le16(h + 4);
        s.bi.biHeight = le16(h + 6);
        s.bi.biPlanes = le16(h + 8);
        s.bi.biBitCount = le16(h + 10);
    } else if (n >= off + 40) {
        s.haveHeader = true;
        s.bi.biSize = le32(h);
        s.bi.biWidth = static_cast<LONG>(le32(h + 4));
        s.bi.biHeight = static_cast<LONG>(le32(h + 8));
        s.bi.biPlanes = le16(h + 12);
        s.bi.biBitCount = le16(h + 14);
        s.bi.biCompression = le32(h + 16);
        s.bi.biSizeImage = le32(h + 20);
        s.bi.biXPelsPerMeter = static_cast<LONG>(le32(h + 24));
        s.bi.biYPelsPerMeter = static_cast<LONG>(le32(h + 28));
        s.bi.biClrUsed = le32(h + 32);
        s.bi.biClrImportant = le32(h + 36);
    }
    *out = s;
    return true;
}

std::string stored_json(const StoredHeader& s)
{
    std::string out = "{\"fileSize\":" + std::to_string(s.fileSize) + ",\"fileHeader\":";
    if (s.fileHeader)
        out += "{\"bfSize\":" + std::to_string(s.bfSize) + ",\"bfOffBits\":" + std::to_string(s.bfOffBits) + "}";
    else
        out += "null";
    out += ",\"core\":";
    out += s.core ? "true" : "false";
    out += ",\"header\":";
    out += s.haveHeader ? header_json(s.bi) : "null";
    return out + "}";
}

bool parse_point(const Args& args, size_t at, int* x, int* y, std::string* error)
{
    auto px = parse_long(args[at]);
    auto py = parse_long(args[at + 1]);
    if (!px || !py || *px < INT32_MIN || *px > INT32_MAX || *py < INT32_MIN || *py > INT32_MAX) {
        *error = "coordinates must be integers: '" + std::string(args[at]) + "' '" + std::string(args[at + 1]) + "'";
        return false;
    }
    *x = static_cast<int>(*px);
    *y = static_cast<int>(*py);
    return true;
}

// Splits options from positional arguments; returns false on an unknown option.
bool split_args(const Args& args, std::initializer_list<std::string_view> flags, std::vector<std::string_view>* flagsSeen,
                Args* positional, std::string* bad)
{
    for (std::string_view a : args) {
        if (a.size() > 1 && a[0] == '-' && !(a[1] >= '0' && a[1] <= '9')) {
            bool known = false;
            for (std::string_view f : flags)
                known = known || a == f;
            if (!known) {
                *bad = std::string(a);
                return false;
            }
            flagsSeen->push_back(a);
        } else {
            positional->push_back(a);
        }
    }
    return true;
}

}  // namespace

int cmd_info(const Args& args)
{
    std::vector<std::string_view> flags;
    Args pos;
    std::string bad;
    if (!split_args(args, {"--json"}, &flags, &pos, &bad))
        return usage_error("info", "unknown option '" + bad + "'");
    if (pos.size() != 1)
        return usage_error("info", pos.empty() ? "missing FILE" : "expected one FILE");
    const bool json = !flags.empty();
    const std::string path(pos[0]);
    std::string error;
    HGLOBAL dib = load(path, &error);
    if (!dib)
        return failure(error);
    StoredHeader stored;
    const bool haveStored = read_stored(path, &stored);
    ImageFacts facts;
    if (!image_facts(dib, &facts)) {
        DIBFree(dib);
        return failure(path + ": loaded, but its header cannot be read");
    }
    bool opened = false;
    std::vector<PixelSample> samples = sample_pixels(dib, &opened);
    if (json) {
        std::printf("{\"file\":\"%s\",\"stored\":%s,\"completed\":%s,%s,\"pixels\":%s}\n", json_escape(path).c_str(),
                    haveStored ? stored_json(stored).c_str() : "null", header_json(facts.completed).c_str(),
                    facts_json(facts).c_str(), opened ? samples_json(samples).c_str() : "null");
    } else {
        std::printf("file              %s (%llu bytes)\n", path.c_str(), static_cast<unsigned long long>(stored.fileSize));
        if (haveStored && stored.fileHeader)
            std::printf("file header       bfSize %u, bfOffBits %u\n", stored.bfSize, stored.bfOffBits);
        else
            std::printf("file header       none (a bare packed DIB)\n");
        if (haveStored && stored.haveHeader)
            print_header_text(stored.core ? "header as stored (OS/2 core header)" : "header as stored", stored.bi);
        print_header_text("header as loaded and completed", facts.completed);
        print_facts_text(facts);
        print_samples_text(samples, opened);
    }
    DIBFree(dib);
    return kExitOk;
}

int cmd_copy(const Args& args)
{
    std::vector<std::string_view> flags;
    Args pos;
    std::string bad;
    if (!split_args(args, {}, &flags, &pos, &bad))
        return usage_error("copy", "unknown option '" + bad + "'");
    if (pos.size() != 2)
        return usage_error("copy", "expected IN.bmp and OUT.bmp");
    const std::string in(pos[0]), out(pos[1]);
    std::string error;
    HGLOBAL dib = load(in, &error);
    if (!dib)
        return failure(error);
    const int saved = SaveDIBToFile(out.c_str(), dib);
    DIBFree(dib);
    if (!saved)
        return failure(out + ": cannot write: " + (errno ? std::strerror(errno) : "write failed"));
    return kExitOk;
}

int cmd_pixel(const Args& args)
{
    std::vector<std::string_view> flags;
    Args pos;
    std::string bad;
    if (!split_args(args, {"--json"}, &flags, &pos, &bad))
        return usage_error("pixel", "unknown option '" + bad + "'");
    if (pos.size() != 3 && pos.size() != 4)
        return usage_error("pixel", "expected FILE X Y [COLOUR]");
    const bool json = !flags.empty();
    int x, y;
    std::string error;
    if (!parse_point(pos, 1, &x, &y, &error))
        return usage_error("pixel", error);
    std::optional<DWORD> colour;
    if (pos.size() == 4) {
        colour = parse_colour(pos[3]);
        if (!colour)
            return usage_error("pixel", "not a colour: '" + std::string(pos[3]) + "' (use #RRGGBB or 0x00BBGGRR)");
    }
    const std::string path(pos[0]);
    HGLOBAL dib = load(path, &error);
    if (!dib)
        return failure(error);
    BITMAPINFOHEADER bi;
    DIBInfo(dib, &bi, sizeof bi);
    LPTRDIB rw = RWOpenDIB(dib);
    if (!rw) {
        DIBFree(dib);
        return failure(path + ": pixels not accessible (compressed, top-down or unsupported layout)");
    }
    if (RWGetPixel(rw, x, y) == 0xFFFFFFFF) {
        RWClose(rw);
        DIBFree(dib);
        return failure(path + ": pixel " + std::to_string(x) + "," + std::to_string(y) + " is outside the " +
                       std::to_string(bi.biWidth) + "x" + std::to_string(bi.biHeight) + " image");
    }
    PixelSample before = read_pixel(rw, bi, x, y);
    PixelSample after = before;
    if (colour) {
        RWSetPixel(rw, x, y, *colour);
        after = read_pixel(rw, bi, x, y);
    }
    RWClose(rw);
    int status = kExitOk;
    if (colour && !SaveDIBToFile(path.c_str(), dib))
        status = failure(path + ": cannot write: " + (errno ? std::strerror(errno) : "write failed"));
    DIBFree(dib);
    if (status != kExitOk)
        return status;
    if (json) {
        std::printf("{\"file\":\"%s\",\"pixel\":%s", json_escape(path).c_str(), samples_json({before}).c_str());
        if (colour)
            std::printf(",\"written\":%s", samples_json({after}).c_str());
        std::printf("}\n");
    } else {
        std::printf("%d,%d %s raw %s\n", x, y, hex_colour(before.colour).c_str(), raw_hex(before).c_str());
        if (colour)
            std::printf("%d,%d %s raw %s (written to %s)\n", x, y, hex_colour(after.colour).c_str(),
                        raw_hex(after).c_str(), path.c_str());
    }
    return kExitOk;
}

}  // namespace kelm_cli
