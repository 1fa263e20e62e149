// PNG through libspng. The library's images hold at most 8 bits per sample
// in one plane, 16 bits in its two-plane form (high bytes in the first plane,
// low bytes in the second, biSizeImage / 2 further on), so every PNG kind has
// an exact counterpart except grey with alpha, which widens to RGBA, and
// 2-bit samples, which take a 4-bit pixel each. Rows are decoded and encoded
// in the PNG's own format (SPNG_FMT_PNG: packed as in the file, 16-bit
// samples in host order) and moved to or from the bottom-up pixel array here.
#include "png_io.h"

#include <spng.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace kelm_cli {
namespace {

constexpr uint64_t kMaxBlock = 0x7FFFFFFF;
constexpr uint32_t kLcsSrgb = 0x73524742;  // 'sRGB'

struct CtxFree {
    void operator()(spng_ctx* c) const { spng_ctx_free(c); }
};
using Ctx = std::unique_ptr<spng_ctx, CtxFree>;

// A new zero-filled packed DIB, locked; the caller fills table and pixels.
struct NewDib {
    HGLOBAL handle = nullptr;
    uint8_t* base = nullptr;
    RGBQUAD* table = nullptr;
    uint8_t* pixels = nullptr;
    uint64_t stride = 0, plane = 0;
    uint32_t height = 0;
    uint8_t* row(uint32_t pngRow, int planeNo = 0) const { return pixels + plane * planeNo + stride * (height - 1 - pngRow); }
};

bool new_dib(uint32_t w, uint32_t h, unsigned bits, unsigned planes, uint32_t colours, bool alpha, NewDib* d,
             std::string* reason)
{
    const uint32_t hs = alpha ? 108 : 40, maskBytes = alpha ? 12 : 0;
    d->stride = (static_cast<uint64_t>(w) * bits + 31) / 32 * 4;
    d->plane = d->stride * h;
    const uint64_t total = hs + maskBytes + 4ull * colours + d->plane * planes;
    if (d->plane * planes > kMaxBlock || total > kMaxBlock) {
        *reason = "size " + std::to_string(w) + "x" + std::to_string(h) + " not supported: " +
                  std::to_string(d->plane * planes) + " bytes of pixels (at most " + std::to_string(kMaxBlock) + ")";
        return false;
    }
    d->handle = GlobalAlloc(GHND, static_cast<SIZE_T>(total));
    d->base = d->handle ? static_cast<uint8_t*>(GlobalLock(d->handle)) : nullptr;
    if (!d->base) {
        if (d->handle)
            GlobalFree(d->handle);
        *reason = "out of memory";
        return false;
    }
    Bytes hdr(hs, 0);
    put_le32(hdr, 0, hs);
    put_le32(hdr, 4, w);
    put_le32(hdr, 8, h);
    put_le16(hdr, 12, static_cast<uint16_t>(planes));
    put_le16(hdr, 14, static_cast<uint16_t>(bits));
    put_le32(hdr, 16, alpha ? BI_BITFIELDS : BI_RGB);
    put_le32(hdr, 20, static_cast<uint32_t>(d->plane * planes));
    put_le32(hdr, 32, colours);
    const uint32_t masks[4] = {0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000};
    if (alpha) {
        for (int i = 0; i < 4; ++i)
            put_le32(hdr, 40 + 4 * i, masks[i]);
        put_le32(hdr, 56, kLcsSrgb);
    }
    std::memcpy(d->base, hdr.data(), hs);
    if (alpha)
        std::memcpy(d->base + hs, masks, 12);
    d->table = reinterpret_cast<RGBQUAD*>(d->base + hs + maskBytes);
    d->pixels = d->base + hs + maskBytes + 4ull * colours;
    d->height = h;
    return true;
}

uint16_t sample16(const uint8_t* row, size_t i)
{
    uint16_t v;
    std::memcpy(&v, row + 2 * i, 2);
    return v;
}

void put16(const NewDib& d, uint32_t y, size_t byteIndex, uint16_t v)
{
    d.row(y, 0)[byteIndex] = static_cast<uint8_t>(v >> 8);
    d.row(y, 1)[byteIndex] = static_cast<uint8_t>(v);
}

}  // namespace

HGLOBAL png_decode(const Bytes& file, StoredFile* s, std::vector<std::string>* notes, std::string* reason)
{
    Ctx ctx(spng_ctx_new(0));
    if (!ctx) {
        *reason = "out of memory";
        return nullptr;
    }
    spng_set_png_buffer(ctx.get(), file.data(), file.size());
    spng_ihdr ihdr{};
    int e = spng_get_ihdr(ctx.get(), &ihdr);
    if (e) {
        *reason = std::string("PNG header not read (") + spng_strerror(e) + ")";
        return nullptr;
    }
    s->format = FileFormat::Png;
    s->fileSize = file.size();
    s->pngBitDepth = ihdr.bit_depth;
    s->pngColourType = ihdr.color_type;
    s->pngInterlaced = ihdr.interlace_method != 0;
    s->bi.biWidth = static_cast<LONG>(ihdr.width);
    s->bi.biHeight = static_cast<LONG>(ihdr.height);
    const unsigned depth = ihdr.bit_depth, ct = ihdr.color_type;
    const bool wide = depth == 16;
    unsigned bits = 0, planes = wide ? 2 : 1;
    uint32_t colours = 0;
    bool alpha = false;
    spng_plte plte{};
    switch (ct) {
    case SPNG_COLOR_TYPE_GRAYSCALE:
    case SPNG_COLOR_TYPE_INDEXED:
        bits = wide ? 8 : depth == 1 ? 1 : depth <= 4 ? 4 : 8;
        colours = wide ? 256 : 1u << depth;
        if (ct == SPNG_COLOR_TYPE_INDEXED) {
            if ((e = spng_get_plte(ctx.get(), &plte)) != 0) {
                *reason = std::string("PNG palette not read (") + spng_strerror(e) + ")";
                return nullptr;
            }
            colours = plte.n_entries;
        }
        break;
    case SPNG_COLOR_TYPE_TRUECOLOR: bits = 24; break;
    case SPNG_COLOR_TYPE_TRUECOLOR_ALPHA:
    case SPNG_COLOR_TYPE_GRAYSCALE_ALPHA:
        bits = 32;
        alpha = !wide;
        if (ct == SPNG_COLOR_TYPE_GRAYSCALE_ALPHA)
            notes->push_back("grey with alpha widened to " + std::string(wide ? "16-bit RGBA" : "RGBA"));
        break;
    default:
        *reason = "PNG colour type " + std::to_string(ct) + " not supported";
        return nullptr;
    }
    spng_trns trns{};
    if (spng_get_trns(ctx.get(), &trns) == 0)
        notes->push_back("its transparency (tRNS chunk) was dropped: the image has no alpha channel");
    if (s->pngInterlaced)
        notes->push_back("interlaced PNG: saved PNG files are not interlaced");

    size_t len = 0;
    if ((e = spng_decoded_image_size(ctx.get(), SPNG_FMT_PNG, &len)) != 0) {
        *reason = std::string("PNG size not supported (") + spng_strerror(e) + ")";
        return nullptr;
    }
    NewDib d;
    if (!new_dib(ihdr.width, ihdr.height, bits, planes, colours, alpha, &d, reason))
        return nullptr;
    Bytes img;
    try {
        img.resize(len);
    } catch (const std::bad_alloc&) {
        GlobalUnlock(d.handle);
        GlobalFree(d.handle);
        *reason = "out of memory";
        return nullptr;
    }
    if ((e = spng_decode_image(ctx.get(), img.data(), len, SPNG_FMT_PNG, 0)) != 0) {
        GlobalUnlock(d.handle);
        GlobalFree(d.handle);
        *reason = std::string("PNG data damaged or truncated (") + spng_strerror(e) + ")";
        return nullptr;
    }
    spng_phys phys{};
    if (spng_get_phys(ctx.get(), &phys) == 0 && phys.unit_specifier == 1) {
        std::memcpy(d.base + 24, &phys.ppu_x, 4);
        std::memcpy(d.base + 28, &phys.ppu_y, 4);
    }

    const uint32_t w = ihdr.width, h = ihdr.height;
    const size_t rowBytes = h ? len / h : 0;
    if (ct == SPNG_COLOR_TYPE_INDEXED) {
        for (uint32_t i = 0; i < colours; ++i)
            d.table[i] = RGBQUAD{plte.entries[i].blue, plte.entries[i].green, plte.entries[i].red, 0};
    } else if (ct == SPNG_COLOR_TYPE_GRAYSCALE && !wide) {
        for (uint32_t i = 0; i < colours; ++i) {
            const uint8_t v = static_cast<uint8_t>(i * 255 / (colours - 1));
            d.table[i] = RGBQUAD{v, v, v, 0};
        }
    }
    for (uint32_t y = 0; y < h; ++y) {
        const uint8_t* src = img.data() + rowBytes * y;
        uint8_t* dst = d.row(y);
        if (!wide && (ct == SPNG_COLOR_TYPE_GRAYSCALE || ct == SPNG_COLOR_TYPE_INDEXED)) {
            if (depth == 2) {
                for (uint32_t x = 0; x < w; ++x) {
                    const uint8_t v = (src[x / 4] >> (6 - 2 * (x % 4))) & 3;
                    dst[x / 2] |= static_cast<uint8_t>(x % 2 ? v : v << 4);
                }
            } else {
                std::memcpy(dst, src, rowBytes);
            }
            continue;
        }
        for (uint32_t x = 0; x < w; ++x) {
            switch (ct) {
            case SPNG_COLOR_TYPE_GRAYSCALE: put16(d, y, x, sample16(src, x)); break;
            case SPNG_COLOR_TYPE_TRUECOLOR:
                if (wide) {
                    for (int c = 0; c < 3; ++c)
                        put16(d, y, 3 * x + c, sample16(src, 3 * x + 2 - c));
                } else {
                    for (int c = 0; c < 3; ++c)
                        dst[3 * x + c] = src[3 * x + 2 - c];
                }
                break;
            case SPNG_COLOR_TYPE_TRUECOLOR_ALPHA:
                if (wide) {
                    for (int c = 0; c < 3; ++c)
                        put16(d, y, 4 * x + c, sample16(src, 4 * x + 2 - c));
                    put16(d, y, 4 * x + 3, sample16(src, 4 * x + 3));
                } else {
                    for (int c = 0; c < 3; ++c)
                        dst[4 * x + c] = src[4 * x + 2 - c];
                    dst[4 * x + 3] = src[4 * x + 3];
                }
                break;
            case SPNG_COLOR_TYPE_GRAYSCALE_ALPHA:
                if (wide) {
                    for (int c = 0; c < 3; ++c)
                        put16(d, y, 4 * x + c, sample16(src, 2 * x));
                    put16(d, y, 4 * x + 3, sample16(src, 2 * x + 1));
                } else {
                    dst[4 * x] = dst[4 * x + 1] = dst[4 * x + 2] = src[2 * x];
                    dst[4 * x + 3] = src[2 * x + 1];
                }
                break;
            }
        }
    }
    GlobalUnlock(d.handle);
    return d.handle;
}

namespace {

// The image to encode, uncompressed and in RGB: RLE images are decoded and
// CMYK ones converted on a copy, which this holder frees.
struct Source {
    HGLOBAL handle = nullptr;
    HGLOBAL owned = nullptr;
    ~Source()
    {
        if (owned)
            DIBFree(owned);
    }
};

bool grey_ramp(const RGBQUAD* t, uint32_t count)
{
    if (count < 2)
        return false;
    for (uint32_t i = 0; i < count; ++i) {
        const uint8_t v = static_cast<uint8_t>(i * 255 / (count - 1));
        if (t[i].rgbRed != v || t[i].rgbGreen != v || t[i].rgbBlue != v)
            return false;
    }
    return true;
}

void pack(Bytes& row, uint32_t x, unsigned depth, uint32_t v)
{
    const unsigned perByte = 8 / depth;
    row[x / perByte] |= static_cast<uint8_t>(v << (8 - depth * (x % perByte + 1)));
}

void push16(Bytes& row, uint16_t v)
{
    uint8_t b[2];
    std::memcpy(b, &v, 2);
    row.push_back(b[0]);
    row.push_back(b[1]);
}

}  // namespace

bool png_encode(HGLOBAL dib, Bytes* out, std::vector<std::string>* notes, std::string* reason)
{
    BITMAPINFOHEADER bi;
    if (!DIBInfo(dib, &bi, sizeof bi)) {
        *reason = "the image block is damaged";
        return false;
    }
    Source src;
    src.handle = dib;
    if (bi.biCompression == BI_RLE8 || bi.biCompression == BI_RLE4) {
        src.owned = src.handle = DIBFromRle(dib);
        if (!src.handle) {
            *reason = "its RLE pixels cannot be decoded";
            return false;
        }
    }
    const uint8_t* hdr = static_cast<const uint8_t*>(GlobalLock(src.handle));
    if (!hdr) {
        *reason = "the image block cannot be locked";
        return false;
    }
    const bool cmyk = DIBIsCmyk(hdr) != 0;
    GlobalUnlock(src.handle);
    if (cmyk) {
        HGLOBAL copy = CopyHandle(src.handle);
        if (!copy) {
            *reason = "out of memory";
            return false;
        }
        if (src.owned)
            DIBFree(src.owned);
        src.owned = src.handle = copy;
        DIBCmyk2Rgb(GlobalLock(copy));
        GlobalUnlock(copy);
        notes->push_back("CMYK converted to RGB for PNG");
    }
    hdr = static_cast<const uint8_t*>(GlobalLock(src.handle));
    uint32_t alphaMask = 0;
    if (bi.biSize >= 108 && bi.biCompression == BI_BITFIELDS && bi.biBitCount == 32)
        std::memcpy(&alphaMask, hdr + 52, 4);
    const uint32_t count = std::min<uint32_t>(DIBNumPaletteColors(hdr), 256);
    std::vector<RGBQUAD> table(count);
    if (bi.biBitCount <= 8 && bi.biPlanes == 1)
        std::memcpy(table.data(), hdr + bi.biSize + (bi.biCompression == BI_BITFIELDS ? 12 : 0), 4ull * count);
    GlobalUnlock(src.handle);

    LPTRDIB rw = RWOpenDIB(src.handle);
    if (!rw) {
        *reason = "an image of " + std::to_string(bi.biBitCount) + " bits, " + std::to_string(bi.biPlanes) +
                  " plane(s), compression " + std::to_string(bi.biCompression) +
                  (bi.biHeight < 0 ? ", top-down," : "") + " cannot be written as PNG";
        return false;
    }
    const uint32_t w = static_cast<uint32_t>(bi.biWidth), h = static_cast<uint32_t>(bi.biHeight);
    spng_ihdr ihdr{};
    ihdr.width = w;
    ihdr.height = h;
    spng_plte plte{};
    Bytes img;
    std::vector<Rgbq16> line(w);
    if (bi.biPlanes == 1 && bi.biBitCount <= 8) {
        std::vector<uint8_t> index(static_cast<size_t>(w) * h);
        uint32_t maxIndex = 0;
        for (uint32_t y = 0; y < h; ++y)
            for (uint32_t x = 0; x < w; ++x) {
                uint8_t raw[8] = {};
                RWGetPixelIndex(rw, static_cast<int>(x), static_cast<int>(h - 1 - y), raw);
                index[static_cast<size_t>(y) * w + x] = raw[0];  // 1 bit: the low byte of a 32-bit 0 or 1
                maxIndex = std::max<uint32_t>(maxIndex, raw[0]);
            }
        const uint32_t entries = std::max<uint32_t>(std::max<uint32_t>(count, maxIndex + 1), 1);
        unsigned depth = 1;
        while ((1u << depth) < entries)
            depth *= 2;
        const bool grey = entries == (1u << depth) && grey_ramp(table.data(), count) && count == entries;
        ihdr.bit_depth = static_cast<uint8_t>(depth);
        ihdr.color_type = grey ? SPNG_COLOR_TYPE_GRAYSCALE : SPNG_COLOR_TYPE_INDEXED;
        if (!grey) {
            plte.n_entries = entries;
            for (uint32_t i = 0; i < count; ++i)
                plte.entries[i] = spng_plte_entry{table[i].rgbRed, table[i].rgbGreen, table[i].rgbBlue, 255};
        }
        const size_t rowBytes = (static_cast<size_t>(w) * depth + 7) / 8;
        img.reserve(rowBytes * h);
        for (uint32_t y = 0; y < h; ++y) {
            Bytes row(rowBytes, 0);
            for (uint32_t x = 0; x < w; ++x)
                pack(row, x, depth, index[static_cast<size_t>(y) * w + x]);
            img.insert(img.end(), row.begin(), row.end());
        }
    } else {
        const bool wide = bi.biPlanes == 2;
        const bool withAlpha = wide ? bi.biBitCount == 32 : alphaMask != 0;
        const bool grey = wide && bi.biBitCount == 8;
        ihdr.bit_depth = wide ? 16 : 8;
        ihdr.color_type = grey ? SPNG_COLOR_TYPE_GRAYSCALE
                          : withAlpha ? SPNG_COLOR_TYPE_TRUECOLOR_ALPHA
                                      : SPNG_COLOR_TYPE_TRUECOLOR;
        for (uint32_t y = 0; y < h; ++y) {
            RWGetLineRGB16(rw, 0, static_cast<int>(h - 1 - y), static_cast<int>(w), line.data());
            for (const Rgbq16& p : line) {
                if (grey) {
                    push16(img, p.red);
                    continue;
                }
                const uint16_t ch[4] = {p.red, p.green, p.blue, p.reserved};
                for (int c = 0; c < (withAlpha ? 4 : 3); ++c) {
                    if (wide)
                        push16(img, ch[c]);
                    else
                        img.push_back(static_cast<uint8_t>(ch[c] >> 8));
                }
            }
        }
    }
    RWClose(rw);

    Ctx ctx(spng_ctx_new(SPNG_CTX_ENCODER));
    if (!ctx) {
        *reason = "out of memory";
        return false;
    }
    spng_set_option(ctx.get(), SPNG_ENCODE_TO_BUFFER, 1);
    int e = spng_set_ihdr(ctx.get(), &ihdr);
    if (!e && ihdr.color_type == SPNG_COLOR_TYPE_INDEXED)
        e = spng_set_plte(ctx.get(), &plte);
    if (!e && bi.biXPelsPerMeter > 0 && bi.biYPelsPerMeter > 0) {
        spng_phys phys{static_cast<uint32_t>(bi.biXPelsPerMeter), static_cast<uint32_t>(bi.biYPelsPerMeter), 1};
        e = spng_set_phys(ctx.get(), &phys);
    }
    if (!e)
        e = spng_encode_image(ctx.get(), img.data(), img.size(), SPNG_FMT_PNG, SPNG_ENCODE_FINALIZE);
    size_t len = 0;
    void* buf = e ? nullptr : spng_get_png_buffer(ctx.get(), &len, &e);
    if (!buf) {
        *reason = std::string("PNG encoding failed (") + spng_strerror(e) + ")";
        return false;
    }
    out->assign(static_cast<uint8_t*>(buf), static_cast<uint8_t*>(buf) + len);
    std::free(buf);
    return true;
}

}  // namespace kelm_cli
