// How the kelm tool shows an image: its header fields, the facts derived from
// them, and a few pixels read through the public pixel API, as text for people
// and as JSON for scripts.
#include <cstdio>
#include <string>

#include "cli.h"

namespace kelm_cli {

unsigned raw_bytes_for(const BITMAPINFOHEADER& bi)
{
    if (bi.biPlanes == 2)
        return bi.biBitCount == 8 ? 2 : 8;
    switch (bi.biBitCount) {
    case 1: return 4;
    case 4: case 8: return 1;
    case 16: return 2;
    case 24: return 3;
    default: return 4;
    }
}

PixelSample read_pixel(LPTRDIB rw, const BITMAPINFOHEADER& bi, int x, int y)
{
    PixelSample s{};
    s.x = x;
    s.y = y;
    s.colour = RWGetPixel(rw, x, y);
    RWGetPixelIndex(rw, x, y, s.raw);
    RWGetPixelRGB16(rw, x, y, &s.rgb16);
    s.rawBytes = raw_bytes_for(bi);
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
        const int points[][2] = {{0, 0}, {w - 1, 0}, {0, h - 1}, {w - 1, h - 1}, {w / 2, h / 2}};
        for (auto& p : points) {
            bool seen = false;
            for (auto& s : out)
                seen = seen || (s.x == p[0] && s.y == p[1]);
            if (!seen)
                out.push_back(read_pixel(rw, bi, p[0], p[1]));
        }
    }
    RWClose(rw);
    return out;
}

std::string raw_hex(const PixelSample& s)
{
    std::string out;
    for (unsigned i = 0; i < s.rawBytes; ++i) {
        char buf[4];
        std::snprintf(buf, sizeof buf, "%02x", s.raw[i]);
        out += buf;
    }
    return out;
}

void print_header_text(const char* title, const BITMAPINFOHEADER& bi)
{
    std::printf("%s\n", title);
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

void print_facts_text(const ImageFacts& f)
{
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
    std::printf("pixels (x, y in stored row order; colour, raw value, Rgbq16 blue green red reserved)\n");
    for (const PixelSample& s : samples)
        std::printf("  %5d,%-5d %s  raw %-16s  %5u %5u %5u %5u\n", s.x, s.y, hex_colour(s.colour).c_str(),
                    raw_hex(s).c_str(), s.rgb16.blue, s.rgb16.green, s.rgb16.red, s.rgb16.reserved);
}

std::string header_json(const BITMAPINFOHEADER& bi)
{
    char buf[512];
    std::snprintf(buf, sizeof buf,
                  "{\"biSize\":%u,\"biWidth\":%d,\"biHeight\":%d,\"biPlanes\":%u,\"biBitCount\":%u,"
                  "\"biCompression\":%u,\"biSizeImage\":%u,\"biXPelsPerMeter\":%d,\"biYPelsPerMeter\":%d,"
                  "\"biClrUsed\":%u,\"biClrImportant\":%u}",
                  bi.biSize, bi.biWidth, bi.biHeight, bi.biPlanes, bi.biBitCount, bi.biCompression, bi.biSizeImage,
                  bi.biXPelsPerMeter, bi.biYPelsPerMeter, bi.biClrUsed, bi.biClrImportant);
    return buf;
}

std::string facts_json(const ImageFacts& f)
{
    char buf[512];
    std::snprintf(buf, sizeof buf,
                  "\"paletteType\":%d,\"paletteTypeName\":\"%s\",\"paletteBytes\":%llu,\"cmyk\":%s,"
                  "\"stride\":%llu,\"pixelOffset\":%llu,\"blockSize\":%llu",
                  f.paletteType, json_escape(palette_type_name(f.paletteType)).c_str(),
                  static_cast<unsigned long long>(f.paletteBytes), f.cmyk ? "true" : "false",
                  static_cast<unsigned long long>(f.stride), static_cast<unsigned long long>(f.pixelOffset),
                  static_cast<unsigned long long>(f.blockSize));
    return buf;
}

std::string samples_json(const std::vector<PixelSample>& samples)
{
    std::string out = "[";
    for (size_t i = 0; i < samples.size(); ++i) {
        const PixelSample& s = samples[i];
        char buf[256];
        std::snprintf(buf, sizeof buf,
                      "%s{\"x\":%d,\"y\":%d,\"colour\":\"%s\",\"raw\":\"%s\",\"rgb16\":[%u,%u,%u,%u]}",
                      i ? "," : "", s.x, s.y, hex_colour(s.colour).c_str(), raw_hex(s).c_str(), s.rgb16.blue,
                      s.rgb16.green, s.rgb16.red, s.rgb16.reserved);
        out += buf;
    }
    return out + "]";
}

}  // namespace kelm_cli
