// Reference model of the colour operations, written from their rules as
// plainly as possible and sharing no code with the library: whole blocks in,
// expected blocks (or tables) out. Where an operation is defined as "through
// the pixel accessor", the model calls the public pixel API, which has its
// own tests; everything else reads and writes the bytes itself.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "kelm3.h"

namespace colour_model {

using Bytes = std::vector<uint8_t>;

inline uint32_t u32(const Bytes& b, size_t o)
{
    return uint32_t{b[o]} | uint32_t{b[o + 1]} << 8 | uint32_t{b[o + 2]} << 16 | uint32_t{b[o + 3]} << 24;
}
inline int32_t s32(const Bytes& b, size_t o)
{
    return static_cast<int32_t>(u32(b, o));
}
inline uint16_t u16(const Bytes& b, size_t o)
{
    return static_cast<uint16_t>(b[o] | b[o + 1] << 8);
}
inline void put32(Bytes& b, size_t o, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b[o + i] = static_cast<uint8_t>(v >> (8 * i));
}
inline void put16(Bytes& b, size_t o, uint16_t v)
{
    b[o] = static_cast<uint8_t>(v);
    b[o + 1] = static_cast<uint8_t>(v >> 8);
}

// Header facts of a 40-byte-header image.
struct Info {
    int32_t width, height;
    uint32_t bits, planes, compression, entries;
    size_t table, pixels, stride;
};

inline Info info(const Bytes& b)
{
    Info i{};
    i.width = s32(b, 4);
    i.height = s32(b, 8);
    i.planes = u16(b, 12);
    i.bits = u16(b, 14);
    i.compression = u32(b, 16);
    const uint32_t used = u32(b, 32);
    i.entries = used ? used : (i.bits <= 8 ? 1u << i.bits : 0);
    i.table = u32(b, 0) + (i.compression == 3 ? 12 : 0);
    i.pixels = i.table + 4 * i.entries;
    i.stride = ((static_cast<size_t>(i.width) * i.bits + 31) / 32) * 4;
    return i;
}

// Blue, green, red of pixel x of stored row y, as the dithers read it.
inline void dither_read(const Bytes& b, const Info& in, int x, int y, int bgr[3])
{
    const size_t row = in.pixels + static_cast<size_t>(y) * in.stride;
    auto entry = [&](unsigned i) {
        for (int c = 0; c < 3; ++c)
            bgr[c] = i < in.entries ? b[in.table + 4 * i + c] : 0;
    };
    switch (in.bits) {
    case 4: entry(x % 2 ? b[row + x / 2] & 15 : b[row + x / 2] >> 4); break;
    case 8: entry(b[row + x]); break;
    case 16: {
        const unsigned v = u16(b, row + 2 * x);
        bgr[0] = (v & 31) << 3;
        bgr[1] = ((v >> 5) & 31) << 3;
        bgr[2] = ((v >> 10) & 31) << 3;
        break;
    }
    default:
        for (int c = 0; c < 3; ++c)
            bgr[c] = b[row + static_cast<size_t>(x) * (in.bits / 8) + c];
    }
}

// The result header and table frame of a dither.
inline Bytes dither_frame(const Bytes& src, unsigned bits, uint32_t important, size_t& stride)
{
    const Info in = info(src);
    const uint32_t entries = 1u << bits;
    stride = bits == 1 ? ((in.width + 31) >> 5) * 4 : bits == 4 ? ((in.width + 1) / 2 + 3) & ~3 : (in.width + 3) & ~3;
    Bytes out(40 + 4 * entries + stride * in.height, 0);
    for (size_t i = 0; i < 40; ++i)
        out[i] = src[i];
    put32(out, 0, 40);
    put16(out, 12, 1);
    put16(out, 14, static_cast<uint16_t>(bits));
    put32(out, 16, 0);
    put32(out, 20, static_cast<uint32_t>(stride * in.height));
    put32(out, 32, entries);
    put32(out, 36, important);
    return out;
}

inline int asr(int v, int n)  // arithmetic shift right, spelled out
{
    return v >= 0 ? v >> n : -((-v + (1 << n) - 1) >> n);
}

inline Bytes dither1(const Bytes& src, const uint8_t* greyMap)
{
    const Info in = info(src);
    size_t stride;
    Bytes out = dither_frame(src, 1, 2, stride);
    const uint8_t white[4] = {255, 255, 255, 0};
    std::copy(white, white + 4, out.begin() + 44);
    std::vector<int> E(in.width + 4, 0);
    for (int y = 0; y < in.height; ++y) {
        int carry = 0, P1 = 0, P2 = 0;
        for (int x = in.width - 1; x >= 0; --x) {
            int bgr[3];
            dither_read(src, in, x, y, bgr);
            int grey = (28 * bgr[0] + 151 * bgr[1] + 77 * bgr[2]) >> 8;
            if (greyMap)
                grey = greyMap[grey];
            const int total = grey + carry + E[x + 1];
            int e = total;
            if (total >= 128) {
                out[48 + y * stride + x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
                e = total - 255;
            }
            carry = asr(7 * e, 4);
            E[x + 2] = static_cast<int16_t>(asr(3 * e, 4) + P1);
            P1 = asr(5 * e, 4) + P2;
            P2 = e - asr(7 * e, 4) - asr(3 * e, 4) - asr(5 * e, 4);
        }
        E[1] = static_cast<int16_t>(P1);
        E[0] = static_cast<int16_t>(P2);
    }
    return out;
}

// The standard 16-colour table and the 16-colour map, as tables of their own.
inline const uint8_t (&std16())[16][3]
{
    static const uint8_t t[16][3] = {  // blue, green, red
        {0, 0, 0},     {0, 0, 128},   {0, 128, 0},   {0, 128, 128}, {128, 0, 0},   {128, 0, 128},
        {128, 128, 0}, {128, 128, 128}, {192, 192, 192}, {0, 0, 255}, {0, 255, 0},   {0, 255, 255},
        {255, 0, 0},   {255, 0, 255}, {255, 255, 0}, {255, 255, 255}};
    return t;
}

inline Bytes dither4(const Bytes& src)
{
    static const int map[4][16] = {{0, 1, 1, 9, 2, 3, 3, 9, 2, 3, 3, 11, 10, 10, 11, 11},
                                   {4, 5, 5, 9, 6, 7, 7, 8, 6, 7, 8, 8, 10, 8, 8, 8},
                                   {4, 5, 5, 13, 6, 7, 8, 8, 6, 8, 8, 8, 14, 8, 8, 15},
                                   {12, 12, 13, 13, 12, 8, 8, 8, 14, 8, 8, 15, 14, 8, 15, 15}};
    const Info in = info(src);
    size_t stride;
    Bytes out = dither_frame(src, 4, 16, stride);
    for (int i = 0; i < 16; ++i)
        for (int c = 0; c < 3; ++c)
            out[40 + 4 * i + c] = std16()[i][c];
    auto sat = [](int v) { return std::min(127, std::max(-128, v)); };
    // E[x][c] for x = -1 .. width: index x + 1.
    std::vector<std::vector<int>> E(in.width + 2, std::vector<int>(3, 0));
    for (int y = 0; y < in.height; ++y) {
        int carry[3] = {0, 0, 0};
        for (int x = 0; x < in.width; ++x) {
            int bgr[3], v[3];
            dither_read(src, in, x, y, bgr);
            for (int c = 0; c < 3; ++c)
                v[c] = std::min(255, std::max(0, bgr[c] + carry[c]));
            const int index = map[v[0] >> 6][(v[1] >> 6) * 4 + (v[2] >> 6)];
            out[40 + 64 + y * stride + x / 2] |= static_cast<uint8_t>(x % 2 ? index : index << 4);
            for (int c = 0; c < 3; ++c) {
                const int e = v[c] - std16()[index][c];
                const int e1 = std::min(127, std::max(-128, e - asr(e, 2)));
                const int h = asr(e1, 1), k = e1 - h;
                carry[c] = sat(E[x + 2][c] + asr(7 * h, 3));
                E[x + 2][c] = h - asr(7 * h, 3);
                E[x + 1][c] = sat(E[x + 1][c] + asr(5 * k, 3));
                E[x][c] = sat(E[x][c] + (k - asr(5 * k, 3)));
            }
        }
    }
    return out;
}

// DitherTo8; an empty result for the calls that are refused.
inline Bytes dither8(const Bytes& src, int levels, int popular, const Bytes* palette)
{
    const Info in = info(src);
    int pal[256][3] = {};
    int used = 0, n = 0, step = 0, half = 0;
    bool cube = false;
    if (palette) {
        if (u16(*palette, 14) != 8)
            return {};
        for (int i = 0; i < 256; ++i)
            for (int c = 0; c < 3; ++c)
                pal[i][c] = (*palette)[40 + 4 * i + c];
        const uint32_t imp = u32(*palette, 36);
        used = imp >= 1 && imp <= 255 ? static_cast<int>(imp) : 255;
    } else {
        if (levels == 1 || levels > 6 || levels < 0 || popular < 0 || popular > 255 || (levels == 0 && popular == 0))
            return {};
        if (levels >= 2) {
            n = levels;
            step = 255 / (n - 1);
            half = step / 2;
            for (int r = 0; r < n; ++r)
                for (int g = 0; g < n; ++g)
                    for (int b = 0; b < n; ++b) {
                        pal[used][0] = b * step;
                        pal[used][1] = g * step;
                        pal[used][2] = r * step;
                        ++used;
                    }
            if (popular == 0) {
                for (int i = 0; i <= 16; ++i, ++used)
                    pal[used][0] = pal[used][1] = pal[used][2] = i == 16 ? 255 : 16 * i;
                cube = true;
            }
        }
        if (!cube) {
            if (used + popular > 256)
                return {};
            std::vector<uint32_t> count(32768, 0);
            for (int y = 0; y < in.height; ++y)
                for (int x = 0; x < in.width; ++x) {
                    int c[3];
                    dither_read(src, in, x, y, c);
                    ++count[((c[2] >> 3) << 10) | ((c[1] >> 3) << 5) | (c[0] >> 3)];
                }
            uint32_t rc[256] = {}, rk[256] = {};
            for (uint32_t key = 0; key < 32768; ++key) {
                if (count[key] < rc[255])
                    continue;
                int p = 0;
                while (p < 255 && rc[p] >= count[key])
                    ++p;
                if (p < 255)
                    for (int i = 255; i > p; --i) {
                        rc[i] = rc[i - 1];
                        rk[i] = rk[i - 1];
                    }
                rc[p] = count[key];
                rk[p] = key;
            }
            for (int i = 0; i < popular; ++i, ++used) {
                pal[used][0] = (rk[i] & 31) << 3;
                pal[used][1] = ((rk[i] >> 5) & 31) << 3;
                pal[used][2] = ((rk[i] >> 10) & 31) << 3;
            }
            if (used <= 240)
                for (int i = 0; i < 16; ++i, ++used)
                    for (int c = 0; c < 3; ++c)
                        pal[used][c] = std16()[i][c];
        }
    }
    size_t stride;
    Bytes out = dither_frame(src, 8, static_cast<uint32_t>(used), stride);
    for (int i = 0; i < 256; ++i)
        for (int c = 0; c < 3; ++c)
            out[40 + 4 * i + c] = static_cast<uint8_t>(pal[i][c]);
    if (palette)
        for (int i = 0; i < 256; ++i)
            out[40 + 4 * i + 3] = (*palette)[40 + 4 * i + 3];
    auto level = [&](int v) { return v < half ? 0 : 1 + (v - half) / step; };
    std::vector<int> cache(32768, 0);
    std::vector<std::vector<int>> slot(in.width + 2, std::vector<int>(3, 0));
    for (int y = 0; y < in.height; ++y) {
        const int d = y % 2 ? 1 : -1;
        int carry[3] = {}, p1[3] = {}, p2[3] = {};
        for (int i = 0; i < in.width; ++i) {
            const int x = d > 0 ? i : in.width - 1 - i;
            int c[3], v[3];
            dither_read(src, in, x, y, c);
            for (int ch = 0; ch < 3; ++ch)
                v[ch] = std::min(255, std::max(0, c[ch] + asr(carry[ch] + slot[x + 1][ch], 4)));
            int index = 0;
            if (cube) {
                index = v[0] == v[1] && v[1] == v[2] ? n * n * n + ((v[0] + 8) >> 4)
                                                     : level(v[0]) + level(v[1]) * n + level(v[2]) * n * n;
            } else {
                const int key = ((v[2] >> 3) << 10) | ((v[1] >> 3) << 5) | (v[0] >> 3);
                if (cache[key] == 0) {
                    int best = 1 << 30;
                    for (int k = 0; k < used; ++k) {
                        const int db = (pal[k][0] >> 1) - (v[0] >> 1), dg = (pal[k][1] >> 1) - (v[1] >> 1),
                                  dr = (pal[k][2] >> 1) - (v[2] >> 1);
                        const int dist = (db * db >> 2) + dg * dg + (dr * dr >> 1);
                        if (dist < best) {
                            best = dist;
                            index = k;
                        }
                    }
                    if (index != 255)
                        cache[key] = index + 1;
                } else {
                    index = cache[key] - 1;
                }
            }
            out[40 + 1024 + y * stride + x] = static_cast<uint8_t>(index);
            for (int ch = 0; ch < 3; ++ch) {
                const int e = v[ch] - pal[index][ch];
                slot[x + 1 - d][ch] = static_cast<int16_t>(3 * e + p1[ch]);
                p1[ch] = 5 * e + p2[ch];
                p2[ch] = e;
                carry[ch] = 7 * e;
            }
        }
    }
    return out;
}

// Median cut over a 64^3 histogram of the given cells; the chosen colours.
inline std::vector<uint8_t> select_colours(const std::vector<uint32_t>& hist, int nColors)
{
    struct Box {
        int lo[3], hi[3], size, occ;
    };
    auto h = [&](int b, int g, int r) { return hist[(b << 12) | (g << 6) | r]; };
    auto any_in = [&](const int lo[3], const int hi[3]) {
        int count = 0;
        for (int b = lo[0]; b <= hi[0]; ++b)
            for (int g = lo[1]; g <= hi[1]; ++g)
                for (int r = lo[2]; r <= hi[2]; ++r)
                    count += h(b, g, r) != 0;
        return count;
    };
    auto shrink = [&](Box& x) {
        for (int a = 0; a < 3; ++a) {
            if (x.lo[a] < x.hi[a])
                for (int v = x.lo[a]; v <= x.hi[a]; ++v) {
                    int lo[3] = {x.lo[0], x.lo[1], x.lo[2]}, hi[3] = {x.hi[0], x.hi[1], x.hi[2]};
                    lo[a] = hi[a] = v;
                    if (any_in(lo, hi)) {
                        x.lo[a] = v;
                        break;
                    }
                }
            if (x.lo[a] < x.hi[a])
                for (int v = x.hi[a]; v >= x.lo[a]; --v) {
                    int lo[3] = {x.lo[0], x.lo[1], x.lo[2]}, hi[3] = {x.hi[0], x.hi[1], x.hi[2]};
                    lo[a] = hi[a] = v;
                    if (any_in(lo, hi)) {
                        x.hi[a] = v;
                        break;
                    }
                }
        }
        const int eb = 4 * (x.hi[0] - x.lo[0]), eg = 12 * (x.hi[1] - x.lo[1]), er = 8 * (x.hi[2] - x.lo[2]);
        x.size = eb * eb + eg * eg + er * er;
        x.occ = any_in(x.lo, x.hi);
    };
    std::vector<Box> boxes(nColors);
    boxes[0] = Box{{0, 0, 0}, {63, 63, 63}, 0, 0};
    shrink(boxes[0]);
    int n = 1;
    while (n < nColors) {
        int pick = -1, best = 0;
        for (int i = 0; i < n; ++i) {
            const int v = 2 * n > nColors ? boxes[i].size : (boxes[i].size > 0 ? boxes[i].occ : 0);
            if (v > best) {
                best = v;
                pick = i;
            }
        }
        if (pick < 0)
            break;
        Box& p = boxes[pick];
        boxes[n] = p;
        const int eb = 4 * (p.hi[0] - p.lo[0]), eg = 12 * (p.hi[1] - p.lo[1]), er = 8 * (p.hi[2] - p.lo[2]);
        const int axis = eb > std::max(eg, er) ? 0 : er > eg ? 2 : 1;
        const int mid = (p.lo[axis] + p.hi[axis]) / 2;
        p.hi[axis] = mid;
        boxes[n].lo[axis] = mid + 1;
        shrink(p);
        shrink(boxes[n]);
        ++n;
    }
    std::vector<uint8_t> table(1024, 0);
    for (int i = 0; i < n; ++i) {
        unsigned long long T = 0, s[3] = {0, 0, 0};
        const Box& x = boxes[i];
        for (int b = x.lo[0]; b <= x.hi[0]; ++b)
            for (int g = x.lo[1]; g <= x.hi[1]; ++g)
                for (int r = x.lo[2]; r <= x.hi[2]; ++r) {
                    const unsigned long long c = h(b, g, r);
                    T += c;
                    s[0] += c * (4 * b + 2);
                    s[1] += c * (4 * g + 2);
                    s[2] += c * (4 * r + 2);
                }
        for (int c = 0; c < 3; ++c)
            table[4 * i + c] = T ? static_cast<uint8_t>((s[c] + T / 2) / T) : 0;
    }
    return table;
}

// The histogram of an image through RWGetPixelRGB16, bottom-up images.
inline std::vector<uint32_t> histogram(HGLOBAL h)
{
    std::vector<uint32_t> hist(1 << 18, 0);
    LPTRDIB rw = RWOpenDIB(h);
    if (!rw)
        return hist;
    BITMAPINFOHEADER bi;
    DIBInfo(h, &bi, sizeof bi);
    for (int x = 0; x < bi.biWidth; ++x)
        for (int y = 0; y < bi.biHeight; ++y) {
            Rgbq16 c;
            RWGetPixelRGB16(rw, x, y, &c);
            ++hist[((c.blue >> 10) << 12) | ((c.green >> 10) << 6) | (c.red >> 10)];
        }
    RWClose(rw);
    return hist;
}

// GrayDIB of a one-plane or two-plane 24/32-bit image: the new block.
inline Bytes grey(const Bytes& src)
{
    const Info in = info(src);
    const size_t stride = (in.width + 3) & ~3u;
    const uint32_t plane = static_cast<uint32_t>(stride * in.height);
    Bytes out(40 + 1024 + plane * in.planes, 0);
    for (size_t i = 0; i < 40; ++i)
        out[i] = src[i];
    put32(out, 0, 40);
    put16(out, 14, 8);
    put32(out, 20, plane * in.planes);
    put32(out, 32, 256);
    put32(out, 36, 256);
    for (int i = 0; i < 256; ++i)
        out[40 + 4 * i] = out[41 + 4 * i] = out[42 + 4 * i] = static_cast<uint8_t>(i);
    const size_t low = u32(src, 20) / 2;
    for (int y = 0; y < in.height; ++y)
        for (int x = 0; x < in.width; ++x) {
            const size_t s = in.pixels + y * in.stride + x * (in.bits / 8), d = 1064 + y * stride + x;
            if (in.planes == 2) {
                const uint32_t b = src[s] * 256 + src[s + low], g = src[s + 1] * 256 + src[s + 1 + low],
                               r = src[s + 2] * 256 + src[s + 2 + low];
                const uint32_t v = (28 * b + 151 * g + 77 * r) >> 8;
                out[d] = static_cast<uint8_t>(v >> 8);
                out[d + plane] = static_cast<uint8_t>(v);
            } else {
                out[d] = static_cast<uint8_t>((151 * src[s + 1] + 28 * src[s] + 77 * src[s + 2]) >> 8);
            }
        }
    return out;
}

// 255 x (i / 255)^(gamma / 10000), truncated, in double precision.
inline void gamma_table(long gamma, uint8_t* t)
{
    for (int i = 0; i < 256; ++i)
        t[i] = gamma == 10000 ? static_cast<uint8_t>(i)
                              : static_cast<uint8_t>(std::trunc(255.0 * std::pow(i * 0.00392156862745098, gamma * 0.0001)));
}

// GammaCorrectionApplyToDIB on a one-plane image's bytes or a two-plane
// image; the block after the call.
inline Bytes gamma_apply(Bytes b, long gamma, const uint8_t* given)
{
    if (gamma == 10000)
        return b;
    uint8_t t[256];
    if (given)
        std::copy(given, given + 256, t);
    else
        gamma_table(gamma, t);
    const Info in = info(b);
    const bool cmyk = u32(b, 0) == 108 && u32(b, 56) == 2;
    if (in.bits <= 8) {
        for (uint32_t i = 0; i < in.entries; ++i)
            for (int c = 0; c < 3; ++c)
                b[in.table + 4 * i + c] = t[b[in.table + 4 * i + c]];
        return b;
    }
    const size_t n = in.stride * in.height;
    if (in.bits == 16) {
        for (int y = 0; y < in.height; ++y)
            for (int x = 0; x < in.width; ++x) {
                const size_t o = in.pixels + y * in.stride + 2 * x;
                const unsigned v = u16(b, o);
                put16(b, o, static_cast<uint16_t>(((t[((v >> 10) & 31) << 3] >> 3) << 10) |
                                                  ((t[((v >> 5) & 31) << 3] >> 3) << 5) | (t[(v & 31) << 3] >> 3)));
            }
    } else if (in.planes == 2) {
        const size_t low = u32(b, 20) / 2;
        for (size_t i = 0; i < n; ++i) {
            const size_t o = in.pixels + i;
            const unsigned v = b[o] * 256u + b[o + low];
            double r = std::trunc(65280.0 * std::pow(v * 1.5318627450980392e-05, 10000.0 / gamma));
            if (r > 65535)
                r = 65535;
            const unsigned w = static_cast<unsigned>(r);
            b[o] = static_cast<uint8_t>(w >> 8);
            b[o + low] = static_cast<uint8_t>(w);
        }
    } else {
        for (size_t i = 0; i < n; ++i)
            b[in.pixels + i] = cmyk ? static_cast<uint8_t>(255 - t[255 - b[in.pixels + i]]) : t[b[in.pixels + i]];
    }
    return b;
}

// CreateFIRFilteredDIB: the new block (same size as the source block).
inline Bytes fir(const Bytes& src, const std::vector<long>& k, int kw, int kh, int offset)
{
    const Info in = info(src);
    const bool cmyk = u32(src, 0) == 108 && u32(src, 56) == 2;
    const int channels = cmyk ? 4 : 3, bpp = in.bits / 8;
    const size_t low = u32(src, 20) / 2;
    Bytes out(src.size(), 0);
    // The header, and the masks behind a 40-byte one; no colour table.
    const size_t masks = u32(src, 0) == 40 && u32(src, 16) == BI_BITFIELDS ? 12 : 0;
    for (size_t i = 0; i < u32(src, 0) + masks; ++i)
        out[i] = src[i];
    for (int y = 0; y < in.height; ++y)
        for (int x = 0; x < in.width; ++x)
            for (int c = 0; c < channels; ++c) {
                long long sum = 0;
                for (int r = 0; r < kh; ++r)
                    for (int q = 0; q < kw; ++q) {
                        const int yy = y - kh / 2 + r, xx = x - kw / 2 + q;
                        if (yy < 0 || xx < 0 || yy >= in.height || xx >= in.width)
                            continue;
                        const size_t o = in.pixels + yy * in.stride + xx * bpp + c;
                        const long long s = in.planes == 2 ? src[o] * 256LL + src[o + low] : src[o];
                        sum += k[r * kw + q] * s;
                    }
                const long long v = offset + sum / 256;
                const size_t o = in.pixels + y * in.stride + x * bpp + c;
                if (in.planes == 2) {
                    const long long s = std::min(65535LL, std::max(0LL, v));
                    out[o] = static_cast<uint8_t>(s >> 8);
                    out[o + low] = static_cast<uint8_t>(s);
                } else {
                    out[o] = static_cast<uint8_t>(std::min(255LL, std::max(0LL, v)));
                }
            }
    return out;
}

// MulDiv as the platform defines it: rounded, halves away from zero.
inline int muldiv(long long a, long long b, long long c)
{
    const long long p = a * b;
    const long long q = (std::llabs(p) + std::llabs(c) / 2) / std::llabs(c);
    return static_cast<int>((p < 0) != (c < 0) ? -q : q);
}

// ScaleToGray: the pixel bytes (rows of the result's stride) and, for 1-bit
// sources, the table entries 0..64. Reads 1-bit sources from the bytes and
// other sources through RWGetPixelRGB16.
struct Scaled {
    Bytes pixels;
    Bytes table;  // 65 x 4 bytes for 8-bit results
    int path;     // 1: 2:1, 2: ScaleMonoDib, 3: general
};

inline Scaled scale_to_grey(HGLOBAL h, const Bytes& src, int cx, int cy, RECT rc)
{
    const Info in = info(src);
    Scaled s{};
    const bool mono = in.bits == 1;
    const size_t stride = mono ? (cx + 3) & ~3 : (cx * 3 + 3) & ~3;
    s.pixels.assign(stride * cy, 0);
    auto bit = [&](int x, int y) { return (src[in.pixels + y * in.stride + x / 8] >> (7 - x % 8)) & 1; };
    if (mono) {
        for (int k = 0; k <= 64; ++k) {
            const uint8_t v = static_cast<uint8_t>(muldiv(255, k, 64));
            s.table.insert(s.table.end(), {v, v, v, 0});
        }
    }
    const int w = rc.right - rc.left, ht = rc.top - rc.bottom;
    if (mono && cx == (w + 1) / 2 && cy == (ht + 1) / 2) {
        s.path = 1;
        const bool white0 = src[in.table + 1] == 255;
        for (int i = 0; i < cy; ++i)
            for (int j = 0; j < cx; ++j) {
                const int X = rc.left + 2 * j, Y = rc.bottom + 2 * i;
                const int n = bit(X, Y) + bit(X + 1, Y) + bit(X, Y + 1) + bit(X + 1, Y + 1);
                const int level = n == 4 ? 63 : 16 * n;
                s.pixels[i * stride + j] = static_cast<uint8_t>(white0 ? 64 - level : level);
            }
        return s;
    }
    if (mono && w > 0 && ht > 0 && w >= cx && ht >= cy) {
        s.path = 2;
        if (u32(src, in.table) != 0) {
            for (int k = 0; k < 64; ++k)
                s.table[4 * k] = s.table[4 * k + 1] = s.table[4 * k + 2] = static_cast<uint8_t>(255 - 4 * k);
            for (int c = 0; c < 4; ++c)
                s.table[256 + c] = 0;
        }
        const int width = w + 1, height = ht + 1;
        int y = rc.bottom, run = 0;
        for (int dy = 0; dy < cy; ++dy) {
            run += height % cy;
            int sh = height / cy;
            if (run >= cy) {
                ++sh;
                run -= cy;
            }
            int x = rc.left;
            for (int dx = 0; dx < cx; ++dx) {
                const int sw = static_cast<int>((dx + 1LL) * width / cx - dx * 1LL * width / cx);
                long long set = 0;
                for (int yy = y; yy < y + sh; ++yy)
                    for (int xx = x; xx < x + sw; ++xx)
                        set += bit(xx, yy);
                s.pixels[dy * stride + dx] = static_cast<uint8_t>(64 * set / (sw * static_cast<long long>(sh)));
                x += sw;
            }
            y += sh;
        }
        return s;
    }
    s.path = 3;
    LPTRDIB rw = RWOpenDIB(h);
    for (int dy = 0; dy < cy; ++dy)
        for (int dx = 0; dx < cx; ++dx) {
            const int x0 = rc.left + muldiv(w, dx, cx), x1 = rc.left + muldiv(w, dx + 1, cx);
            const int y0 = rc.bottom + muldiv(ht, dy, cy), y1 = rc.bottom + muldiv(ht, dy + 1, cy);
            const unsigned long long n = (x1 - x0 + 1ULL) * (y1 - y0 + 1ULL);
            unsigned long long sum[3] = {0, 0, 0};
            for (int y = y0; y <= y1; ++y)
                for (int x = x0; x <= x1; ++x) {
                    Rgbq16 c;
                    RWGetPixelRGB16(rw, x, y, &c);
                    sum[0] += c.blue;
                    sum[1] += c.green;
                    sum[2] += c.red;
                }
            if (mono) {
                s.pixels[dy * stride + dx] = static_cast<uint8_t>(muldiv(static_cast<long long>(sum[2] / n), 64, 65535));
            } else {
                for (int c = 0; c < 3; ++c)
                    s.pixels[dy * stride + dx * 3 + c] = static_cast<uint8_t>((sum[c] / n) >> 8);
            }
        }
    RWClose(rw);
    return s;
}

// ConvertDIB to 32 bits in place: the block after the call, for bottom-up
// BI_RGB sources of 1, 4, 8, 16 and 24 bits.
inline Bytes expand32(const Bytes& src)
{
    const Info in = info(src);
    Bytes out(40 + static_cast<size_t>(in.width) * in.height * 4, 0);
    for (size_t i = 0; i < 40; ++i)
        out[i] = src[i];
    put16(out, 12, 1);
    put16(out, 14, 32);
    put32(out, 20, static_cast<uint32_t>(in.width * in.height * 4));
    put32(out, 32, 0);
    put32(out, 36, 0);
    for (int y = 0; y < in.height; ++y)
        for (int x = 0; x < in.width; ++x) {
            const size_t row = in.pixels + y * in.stride, o = 40 + (static_cast<size_t>(y) * in.width + x) * 4;
            unsigned idx = 0;
            switch (in.bits) {
            case 24:
                for (int c = 0; c < 3; ++c)
                    out[o + c] = src[row + 3 * x + c];
                continue;
            case 16: {
                const unsigned v = u16(src, row + 2 * x);
                out[o] = static_cast<uint8_t>((v & 31) << 3);
                out[o + 1] = static_cast<uint8_t>(((v >> 5) & 31) << 3);
                out[o + 2] = static_cast<uint8_t>(((v >> 10) & 31) << 3);
                continue;
            }
            case 8: idx = src[row + x]; break;
            case 4: idx = x % 2 ? src[row + x / 2] & 15 : src[row + x / 2] >> 4; break;
            default: idx = (src[row + x / 8] >> (7 - x % 8)) & 1;
            }
            if (idx < in.entries)
                for (int c = 0; c < 4; ++c)
                    out[o + c] = src[in.table + 4 * idx + c];
        }
    return out;
}

}  // namespace colour_model
