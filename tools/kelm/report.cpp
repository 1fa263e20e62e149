// How the kelm tool shows an image: its header fields, the facts derived from
// them, and a few pixels read through the public pixel API, as text for people
// and as JSON for scripts. Pixels are placed from the top-left corner, as in
// every viewer; the library's stored row is given beside it.
#include <cstdio>
#include <cstring>
#include <string>

#include "cli.h"
#include "json.h"

namespace kelm_cli {

int flip_row(const BITMAPINFOHEADER& bi, int row)
{
    // Loaded images are bottom-up: stored row 0 is the bottom line.
    return bi.biHeight > 0 ? bi.biHeight - 1 - row : row;
}

PixelSample read_pixel(LPTRDIB rw, const BITMAPINFOHEADER& bi, int x, int storedRow)
{
    PixelSample s{};
    s.x = x;
    s.storedRow = storedRow;
    s.y = flip_row(bi, storedRow);
    s.bits = bi.biBitCount;
    s.planes = bi.biPlanes;
    s.colour = RWGetPixel(rw, x, storedRow);
    RWGetPixelIndex(rw, x, storedRow, s.raw);
    RWGetPixelRGB16(rw, x, storedRow, &s.rgb16);
    return s;
}

std::vector<PixelSample> sample_pixels(HGLOBAL hDib, bool* opened)
{
    std::vector<PixelSample> out;
    BITMAPINFOHEADER bi;
    *opened = false;
    if (!DIBInfo(hDib, &bi, sizeof bi))
        return out;
    LPTRDIB rw = RWOpenDIB(hDib);
    if (!rw)
        return out;
    *opened = true;
    const int w = bi.biWidth, h = bi.biHeight;
    if (w > 0 && h > 0) {
        // Top-left, top-right, bottom-left, bottom-right, centre.
        const int points[][2] = {{0, 0}, {w - 1, 0}, {0, h - 1}, {w - 1, h - 1}, {w / 2, h / 2}};
        for (auto& p : points) {
            bool seen = false;
            for (auto& s : out)
                seen = seen || (s.x == p[0] && s.y == p[1]);
            if (!seen)
                out.push_back(read_pixel(rw, bi, p[0], flip_row(bi, p[1])));
        }
    }
    RWClose(rw);
    return out;
}

std::string raw_hex(const PixelSample& s)
{
    char buf[24];
    uint32_t v32 = 0;
    uint16_t v16 = 0;
    Rgbq16 q;
    if (s.planes == 2) {
        std::memcpy(&q, s.raw, sizeof q);
        std::memcpy(&v16, s.raw, 2);
        if (s.bits == 8)
            std::snprintf(buf, sizeof buf, "%04x", v16);
        else if (s.bits == 24)
            std::snprintf(buf, sizeof buf, "%04x%04x%04x", q.red, q.green, q.blue);
        else
            std::snprintf(buf, sizeof buf, "%04x%04x%04x%04x", q.reserved, q.red, q.green, q.blue);
        return buf;
    }
    switch (s.bits) {
    case 1: std::memcpy(&v32, s.raw, 4); std::snprintf(buf, sizeof buf, "%x", v32 & 1); break;
    case 4: std::snprintf(buf, sizeof buf, "%x", s.raw[0] & 0xF); break;
    case 8: std::snprintf(buf, sizeof buf, "%02x", s.raw[0]); break;
    case 16: std::memcpy(&v16, s.raw, 2); std::snprintf(buf, sizeof buf, "%04x", v16); break;
    case 24: std::snprintf(buf, sizeof buf, "%02x%02x%02x", s.raw[2], s.raw[1], s.raw[0]); break;
    default: std::snprintf(buf, sizeof buf, "%02x%02x%02x%02x", s.raw[3], s.raw[2], s.raw[1], s.raw[0]); break;
    }
    return buf;
}

void print_header_text(const char* title, const BITMAPINFOHEADER& bi, bool core)
{
    std::printf("%s\n", title);
    if (core) {
        // A core header has only these fields.
        std::printf("  bcSize          %u\n", bi.biSize);
        std::printf("  bcWidth         %d\n", bi.biWidth);
        std::printf("  bcHeight        %d\n", bi.biHeight);
        std::printf("  bcPlanes        %u\n", bi.biPlanes);
        std::printf("  bcBitCount      %u\n", bi.biBitCount);
        return;
    }
    std::printf("  biSize          %u\n", bi.biSize);
    std::printf("  biWidth         %d\n", bi.biWidth);
    std::printf("  biHeight        %d%s\n", bi.biHeight, bi.biHeight < 0 ? " (top-down)" : "");
    std::printf("  biPlanes        %u\n", bi.biPlanes);
    std::printf("  biBitCount      %u\n", bi.biBitCount);
    std::printf("  biCompression   %u (%s)\n", bi.biCompression, compression_name(bi.biCompression));
    std::printf("  biSizeImage     %u\n", bi.biSizeImage);
    std::printf("  biXPelsPerMeter %d\n", bi.biXPelsPerMeter);
    std::printf("  biYPelsPerMeter %d\n", bi.biYPelsPerMeter);
    std::printf("  biClrUsed       %u\n", bi.biClrUsed);
    std::printf("  biClrImportant  %u\n", bi.biClrImportant);
}

void print_masks_text(const uint32_t m[4], bool alpha)
{
    std::printf("  masks           red %08x  green %08x  blue %08x", m[0], m[1], m[2]);
    if (alpha)
        std::printf("  alpha %08x", m[3]);
    std::printf("\n");
}

void print_facts_text(const ImageFacts& f)
{
    if (f.haveMasks)
        print_masks_text(f.masks, f.completed.biSize >= 108);
    std::printf("palette type      %d (%s), %llu bytes\n", f.paletteType, palette_type_name(f.paletteType),
                static_cast<unsigned long long>(f.paletteBytes));
    std::printf("CMYK              %s\n", f.cmyk ? "yes" : "no");
    std::printf("stride            %llu bytes\n", static_cast<unsigned long long>(f.stride));
    std::printf("pixels at offset  %llu\n", static_cast<unsigned long long>(f.pixelOffset));
    std::printf("block size        %llu bytes\n", static_cast<unsigned long long>(f.blockSize));
}

void print_samples_text(const std::vector<PixelSample>& samples, bool opened)
{
    if (!opened) {
        std::printf("pixels            not accessible (compressed or unsupported layout)\n");
        return;
    }
    std::printf("pixels (x, y from the top-left corner; stored row; colour; raw value; 16-bit r g b a)\n");
    for (const PixelSample& s : samples)
        std::printf("  %5d,%-5d row %-5d %s  raw %-16s  %5u %5u %5u %5u\n", s.x, s.y, s.storedRow,
                    hex_colour(s.colour).c_str(), raw_hex(s).c_str(), s.rgb16.red, s.rgb16.green, s.rgb16.blue,
                    s.rgb16.reserved);
}

std::string header_json(const BITMAPINFOHEADER& bi, bool core)
{
    char buf[512];
    if (core) {
        std::snprintf(buf, sizeof buf,
                      "{\"bcSize\":%u,\"bcWidth\":%d,\"bcHeight\":%d,\"bcPlanes\":%u,\"bcBitCount\":%u}", bi.biSize,
                      bi.biWidth, bi.biHeight, bi.biPlanes, bi.biBitCount);
        return buf;
    }
    std::snprintf(buf, sizeof buf,
                  "{\"biSize\":%u,\"biWidth\":%d,\"biHeight\":%d,\"biPlanes\":%u,\"biBitCount\":%u,"
                  "\"biCompression\":%u,\"biSizeImage\":%u,\"biXPelsPerMeter\":%d,\"biYPelsPerMeter\":%d,"
                  "\"biClrUsed\":%u,\"biClrImportant\":%u}",
                  bi.biSize, bi.biWidth, bi.biHeight, bi.biPlanes, bi.biBitCount, bi.biCompression, bi.biSizeImage,
                  bi.biXPelsPerMeter, bi.biYPelsPerMeter, bi.biClrUsed, bi.biClrImportant);
    return buf;
}

std::string masks_json(const uint32_t m[4], bool alpha)
{
    char buf[128];
    std::snprintf(buf, sizeof buf, "{\"r\":\"%08x\",\"g\":\"%08x\",\"b\":\"%08x\"", m[0], m[1], m[2]);
    std::string out = buf;
    if (alpha) {
        std::snprintf(buf, sizeof buf, ",\"a\":\"%08x\"", m[3]);
        out += buf;
    }
    return out + "}";
}

std::string facts_json(const ImageFacts& f)
{
    char buf[512];
    std::snprintf(buf, sizeof buf,
                  "\"paletteType\":%d,\"paletteTypeName\":\"%s\",\"paletteBytes\":%llu,\"cmyk\":%s,"
                  "\"stride\":%llu,\"pixelOffset\":%llu,\"blockSize\":%llu",
                  f.paletteType, palette_type_name(f.paletteType), static_cast<unsigned long long>(f.paletteBytes),
                  f.cmyk ? "true" : "false", static_cast<unsigned long long>(f.stride),
                  static_cast<unsigned long long>(f.pixelOffset), static_cast<unsigned long long>(f.blockSize));
    return std::string(buf) + ",\"masks\":" +
           (f.haveMasks ? masks_json(f.masks, f.completed.biSize >= 108) : std::string("null"));
}

std::string sample_json(const PixelSample& s)
{
    char buf[384];
    std::snprintf(buf, sizeof buf,
                  "{\"x\":%d,\"y\":%d,\"storedRow\":%d,\"colour\":\"%s\",\"rgba\":{\"r\":%u,\"g\":%u,\"b\":%u,"
                  "\"a\":%u},\"raw\":\"%s\",\"rgba16\":{\"r\":%u,\"g\":%u,\"b\":%u,\"a\":%u}}",
                  s.x, s.y, s.storedRow, hex_colour(s.colour).c_str(), s.rgb16.red >> 8, s.rgb16.green >> 8,
                  s.rgb16.blue >> 8, s.rgb16.reserved >> 8, raw_hex(s).c_str(), s.rgb16.red, s.rgb16.green,
                  s.rgb16.blue, s.rgb16.reserved);
    return buf;
}

std::string samples_json(const std::vector<PixelSample>& samples)
{
    std::string out = "[";
    for (size_t i = 0; i < samples.size(); ++i) {
        if (i)
            out += ",";
        out += sample_json(samples[i]);
    }
    return out + "]";
}

}  // namespace kelm_cli
