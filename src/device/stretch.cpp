// Stretched output of packed DIBs: ordinary images through GDI's stretching
// transfer; CMYK images either as their own separations in a PostScript
// DeviceCMYK image to a printer that takes raw PostScript, or converted to
// RGB in a temporary copy for any other device.
#include <cstdio>

#include "colour/colour.h"
#include "device/device.h"

namespace kelm {

namespace {

// Every piece of PostScript goes to the driver as one POSTSCRIPT_DATA escape
// record: a 16-bit little-endian count, then the text.
class EscapeSink : public PostScriptSink {
public:
    explicit EscapeSink(HDC hdc) : hdc_(hdc) {}
    void send(const char* record, int length) override
    {
        Escape(hdc_, POSTSCRIPT_DATA, length, record, nullptr);
    }

private:
    HDC hdc_;
};

constexpr char kHex[] = "0123456789ABCDEF";

// Builds records in a buffer of the largest text the road formats (1024
// bytes) plus the count, so that no escape costs an allocation.
class Records {
public:
    explicit Records(PostScriptSink& sink) : sink_(sink) {}
    void text(const char* s, int n)
    {
        if (n < 0 || n > kText)
            return;
        put_count(n);
        std::memcpy(buf_ + 2, s, static_cast<size_t>(n));
        sink_.send(buf_, n + 2);
    }
    // Eight upper-case hexadecimal digits of a pixel's inks in the order
    // cyan, magenta, yellow, black: the same text as "%02X%02X%02X%02X".
    void pixel(BYTE c, BYTE m, BYTE y, BYTE k)
    {
        char* p = buf_ + 2;
        const BYTE v[4] = {c, m, y, k};
        for (int i = 0; i < 4; ++i) {
            p[2 * i] = kHex[v[i] >> 4];
            p[2 * i + 1] = kHex[v[i] & 15];
        }
        put_count(8);
        sink_.send(buf_, 10);
    }
    char* scratch() { return buf_ + 2; }
    static constexpr int kText = 1024;

private:
    void put_count(int n)
    {
        buf_[0] = static_cast<char>(n & 0xFF);
        buf_[1] = static_cast<char>((n >> 8) & 0xFF);
    }
    PostScriptSink& sink_;
    char buf_[kText + 2];
};

}  // namespace

BOOL is_postscript_dc(HDC hdc)
{
    if (GetDeviceCaps(hdc, TECHNOLOGY) != DT_RASPRINTER)
        return 0;
    int code = POSTSCRIPT_IGNORE;
    return Escape(hdc, QUERYESCSUPPORT, sizeof code, reinterpret_cast<LPCSTR>(&code), nullptr) != 0 ? 1 : 0;
}

void postscript_image(PostScriptSink& sink, const BYTE* lpbi, POINT p0, POINT p1, int xSrc, int ySrc, int srcWidth,
                      int srcHeight)
{
    Records out(sink);
    char* text = out.scratch();
    int n = std::snprintf(text, Records::kText + 1, "save\r%d %d translate\r%d %d scale\r", static_cast<int>(p0.x),
                          static_cast<int>(p0.y), static_cast<int>(p1.x - p0.x), static_cast<int>(p1.y - p0.y));
    out.text(text, n);
    n = std::snprintf(text, Records::kText + 1,
                      "/DeviceCMYK setcolorspace << /ImageType 1 /Width %d /Height %d /BitsPerComponent 8 "
                      "/ImageMatrix [%d 0 0 -%d 0 %d] /Decode [0 1 0 1 0 1 0 1] /DataSource currentfile "
                      "/ASCIIHexDecode filter >> image\r",
                      srcWidth, srcHeight, srcWidth, srcHeight, srcHeight);
    out.text(text, n);

    const int64_t width = static_cast<int32_t>(ld32(lpbi, bih::Width));
    const int64_t height = static_cast<int32_t>(ld32(lpbi, bih::Height));
    const int64_t rows = height < 0 ? -height : height;
    uint64_t count = 0;
    for (int64_t y = ySrc; y < static_cast<int64_t>(ySrc) + srcHeight; ++y) {
        // Pixels outside the image are sent as no ink instead of being read
        // from outside the block.
        const bool rowInside = y >= 0 && y < rows;
        const BYTE* p = rowInside ? pixel_ptr(const_cast<BYTE*>(lpbi), 0, static_cast<UINT>(y)) : nullptr;
        for (int64_t x = xSrc; x < static_cast<int64_t>(xSrc) + srcWidth; ++x) {
            if (rowInside && x >= 0 && x < width) {
                const BYTE* q = p + 4 * x;
                out.pixel(q[2], q[1], q[0], q[3]);
            } else {
                out.pixel(0, 0, 0, 0);
            }
            if (++count % 16 == 0)
                out.text("\r", 1);
        }
    }
    if (count > 0)
        out.text("\r", 1);
    out.text(">\rrestore\r", 10);
}

LONG stretch_dib_blt(HDC hdc, int xDest, int yDest, int width, int height, HGLOBAL hDib, int xSrc, int ySrc,
                     int srcWidth, int srcHeight, DWORD rop)
{
    if (!hDib)
        return PatBlt(hdc, xDest, yDest, width, height, rop);
    LockedDib dib(hDib);
    if (!dib.ok())
        return 0;
    BYTE* bi = dib.bytes();
    const DibLayout& l = dib.layout();
    PlanesGuard planes(bi, l.core);
    const auto* info = reinterpret_cast<const BITMAPINFO*>(bi);

    if (!is_cmyk(bi)) {
        const int lines = StretchDIBits(hdc, xDest, yDest, width, height, xSrc, ySrc, srcWidth, srcHeight,
                                        bi + l.pixelOffset, info, DIB_RGB_COLORS, rop);
        return lines > 0 ? 1 : 0;
    }
    // Only a 32-bit uncompressed CMYK image has the four ink bytes per pixel
    // that the PostScript road reads.
    if (l.bitCount == 32 && !l.compressed && is_postscript_dc(hdc)) {
        POINT corners[2] = {{xDest, yDest}, {xDest + width, yDest + height}};
        LPtoDP(hdc, corners, 2);
        EscapeSink sink(hdc);
        postscript_image(sink, bi, corners[0], corners[1], xSrc, ySrc, srcWidth, srcHeight);
        return 1;
    }
    HGLOBAL copy = copy_handle(hDib);
    if (!copy)
        return 0;
    LONG result = 0;
    {
        LockedDib rgb(copy);
        if (rgb.ok()) {
            dib_cmyk_to_rgb(rgb.bytes());
            result = StretchDIBits(hdc, xDest, yDest, width, height, xSrc, ySrc, srcWidth, srcHeight,
                                   rgb.bytes() + rgb.layout().pixelOffset,
                                   reinterpret_cast<const BITMAPINFO*>(rgb.bytes()), DIB_RGB_COLORS, rop);
        }
    }
    GlobalFree(copy);
    return result;
}

}  // namespace kelm
