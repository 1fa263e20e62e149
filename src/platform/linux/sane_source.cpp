// SANE devices as TWAIN sources of the built-in source manager. libsane is
// opened at run time (dlopen), so the library runs without it and simply
// lists no such sources. Capabilities map onto SANE options (pixel type and
// bit depth to "mode" and "depth", resolutions to "resolution", the image
// layout frame to the scan area in millimetres); the image information comes
// from the frame parameters; a native transfer reads every frame of one page
// (three single-colour frames of a three-pass scanner are merged) into a
// bottom-up packed DIB. A flatbed gives one page per batch, a feeder pages
// until it reports that it is empty.
#include <dlfcn.h>
#include <strings.h>

#include <cctype>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "kelm3.h"
#include "platform/platform.h"
#include "platform/linux/twain_dsm.h"

#if __has_include(<sane/sane.h>)
#include <sane/sane.h>
#define KELM3_HAVE_SANE 1
#endif

namespace kelm::platform {

#if KELM3_HAVE_SANE

namespace {

struct SaneApi {
    void* lib = nullptr;
    int users = 0;
    SANE_Status (*init)(SANE_Int*, SANE_Auth_Callback);
    void (*exit)();
    SANE_Status (*get_devices)(const SANE_Device***, SANE_Bool);
    SANE_Status (*open)(SANE_String_Const, SANE_Handle*);
    void (*close)(SANE_Handle);
    const SANE_Option_Descriptor* (*get_option_descriptor)(SANE_Handle, SANE_Int);
    SANE_Status (*control_option)(SANE_Handle, SANE_Int, SANE_Action, void*, SANE_Int*);
    SANE_Status (*get_parameters)(SANE_Handle, SANE_Parameters*);
    SANE_Status (*start)(SANE_Handle);
    SANE_Status (*read)(SANE_Handle, SANE_Byte*, SANE_Int, SANE_Int*);
    void (*cancel)(SANE_Handle);
};

SaneApi g_sane;

template <typename T>
bool bind(T& fn, const char* name)
{
    fn = reinterpret_cast<T>(dlsym(g_sane.lib, name));
    return fn != nullptr;
}

bool load_sane()
{
    if (g_sane.lib)
        return true;
    void* lib = dlopen("libsane.so.1", RTLD_NOW | RTLD_LOCAL);
    if (!lib)
        return false;
    g_sane.lib = lib;
    bool ok = bind(g_sane.init, "sane_init") && bind(g_sane.exit, "sane_exit") &&
              bind(g_sane.get_devices, "sane_get_devices") && bind(g_sane.open, "sane_open") &&
              bind(g_sane.close, "sane_close") && bind(g_sane.get_option_descriptor, "sane_get_option_descriptor") &&
              bind(g_sane.control_option, "sane_control_option") &&
              bind(g_sane.get_parameters, "sane_get_parameters") && bind(g_sane.start, "sane_start") &&
              bind(g_sane.read, "sane_read") && bind(g_sane.cancel, "sane_cancel");
    SANE_Int version = 0;
    if (!ok || g_sane.init(&version, nullptr) != SANE_STATUS_GOOD) {
        dlclose(lib);
        g_sane.lib = nullptr;
        return false;
    }
    return true;
}

void copy_str32(TW_STR32& field, const char* text)
{
    std::memset(field, 0, sizeof field);
    if (text)
        std::strncpy(field, text, sizeof field - 1);
}

// Options by name.
class Options {
public:
    explicit Options(SANE_Handle h) : h_(h) {}

    SANE_Int find(const char* name) const
    {
        for (SANE_Int i = 1;; ++i) {
            const SANE_Option_Descriptor* d = g_sane.get_option_descriptor(h_, i);
            if (!d)
                return -1;
            if (d->name && std::strcmp(d->name, name) == 0)
                return SANE_OPTION_IS_ACTIVE(d->cap) ? i : -1;
        }
    }

    bool has(const char* name) const { return find(name) >= 0; }

    // A string option set to the first allowed value that starts with one of
    // the candidates (backends name modes differently).
    bool set_string(const char* name, std::initializer_list<const char*> candidates)
    {
        SANE_Int i = find(name);
        if (i < 0)
            return false;
        const SANE_Option_Descriptor* d = g_sane.get_option_descriptor(h_, i);
        if (d->type != SANE_TYPE_STRING || d->constraint_type != SANE_CONSTRAINT_STRING_LIST)
            return false;
        for (const char* want : candidates)
            for (const SANE_String_Const* s = d->constraint.string_list; *s; ++s)
                if (strncasecmp(*s, want, std::strlen(want)) == 0) {
                    std::vector<char> value(static_cast<std::size_t>(d->size) + 1, '\0');
                    std::strncpy(value.data(), *s, value.size() - 1);
                    return g_sane.control_option(h_, i, SANE_ACTION_SET_VALUE, value.data(), nullptr) ==
                           SANE_STATUS_GOOD;
                }
        return false;
    }

    std::string get_string(const char* name) const
    {
        SANE_Int i = find(name);
        if (i < 0)
            return "";
        const SANE_Option_Descriptor* d = g_sane.get_option_descriptor(h_, i);
        if (d->type != SANE_TYPE_STRING)
            return "";
        std::vector<char> value(static_cast<std::size_t>(d->size) + 1, '\0');
        g_sane.control_option(h_, i, SANE_ACTION_GET_VALUE, value.data(), nullptr);
        return value.data();
    }

    bool set_number(const char* name, double v)
    {
        SANE_Int i = find(name);
        if (i < 0)
            return false;
        const SANE_Option_Descriptor* d = g_sane.get_option_descriptor(h_, i);
        SANE_Word w;
        if (d->type == SANE_TYPE_FIXED)
            w = SANE_FIX(v);
        else if (d->type == SANE_TYPE_INT)
            w = static_cast<SANE_Word>(v + (v < 0 ? -0.5 : 0.5));
        else
            return false;
        return g_sane.control_option(h_, i, SANE_ACTION_SET_VALUE, &w, nullptr) == SANE_STATUS_GOOD;
    }

    bool get_number(const char* name, double& v) const
    {
        SANE_Int i = find(name);
        if (i < 0)
            return false;
        const SANE_Option_Descriptor* d = g_sane.get_option_descriptor(h_, i);
        SANE_Word w = 0;
        if ((d->type != SANE_TYPE_FIXED && d->type != SANE_TYPE_INT) ||
            g_sane.control_option(h_, i, SANE_ACTION_GET_VALUE, &w, nullptr) != SANE_STATUS_GOOD)
            return false;
        v = d->type == SANE_TYPE_FIXED ? SANE_UNFIX(w) : w;
        return true;
    }

private:
    SANE_Handle h_;
};

double fix_value(TW_UINT32 item)
{
    TW_FIX32 f;
    std::memcpy(&f, &item, sizeof f);
    return f.Whole + f.Frac / 65536.0;
}

TW_FIX32 to_fix(double v)
{
    int32_t x = static_cast<int32_t>(v * 65536.0 + (v < 0 ? -0.5 : 0.5));
    TW_FIX32 f;
    f.Whole = static_cast<TW_INT16>(x >> 16);
    f.Frac = static_cast<TW_UINT16>(x & 0xFFFF);
    return f;
}

// One page as SANE delivers it: the parameters of its (last) frame and the
// samples, interleaved RGB for colour.
struct Page {
    int width = 0, height = 0, depth = 0;
    bool colour = false;
    std::vector<unsigned char> data;  // rows of bytesPerLine
    int bytesPerLine = 0;
};

class SaneSource : public TwainSource {
public:
    SaneSource(const SANE_Device& dev, DSMENTRYPROC dsm) : name_(dev.name), dsm_(dsm)
    {
        identity.Version.MajorNum = 1;
        identity.Version.Language = TWLG_USA;
        identity.Version.Country = TWCY_USA;
        copy_str32(identity.Version.Info, dev.type);
        identity.ProtocolMajor = TWON_PROTOCOLMAJOR;
        identity.ProtocolMinor = TWON_PROTOCOLMINOR;
        identity.SupportedGroups = DG_CONTROL | DG_IMAGE;
        copy_str32(identity.Manufacturer, dev.vendor);
        copy_str32(identity.ProductFamily, dev.model);
        // The device name is what tells two devices of one model apart.
        copy_str32(identity.ProductName, dev.name);
    }
    ~SaneSource() override { close(); }

    bool wants_entry_point() const override { return false; }

    TW_UINT16 entry(pTW_IDENTITY origin, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data) override
    {
        if (dg == DG_CONTROL && dat == DAT_IDENTITY) {
            if (msg == MSG_OPENDS) {
                if (g_sane.open(name_.c_str(), &h_) != SANE_STATUS_GOOD) {
                    h_ = nullptr;
                    return fail(TWCC_OPERATIONERROR);
                }
                self_ = *static_cast<pTW_IDENTITY>(data);
                app_ = origin ? *origin : TW_IDENTITY{};
                scanning_ = false;
                pending_ = 0;
                return TWRC_SUCCESS;
            }
            if (msg == MSG_CLOSEDS) {
                close();
                return TWRC_SUCCESS;
            }
            return fail(TWCC_BADPROTOCOL);
        }
        if (dg == DG_CONTROL && dat == DAT_STATUS && msg == MSG_GET) {
            static_cast<pTW_STATUS>(data)->ConditionCode = condition_;
            condition_ = TWCC_SUCCESS;
            return TWRC_SUCCESS;
        }
        if (!h_)
            return fail(TWCC_SEQERROR);
        if (dg == DG_CONTROL) {
            switch (dat) {
            case DAT_CAPABILITY:
                return capability(msg, static_cast<pTW_CAPABILITY>(data));
            case DAT_USERINTERFACE:
                if (msg == MSG_DISABLEDS) {
                    cancel();
                    return TWRC_SUCCESS;
                }
                if (msg != MSG_ENABLEDS)
                    return fail(TWCC_BADPROTOCOL);
                // No user interface: the scan is ready at once.
                pending_ = feeder() ? 0xFFFF : 1;
                xres_ = yres_ = 0;
                dsm_(&self_, &app_, DG_CONTROL, DAT_NULL, MSG_XFERREADY, nullptr);
                return TWRC_SUCCESS;
            case DAT_EVENT:
                static_cast<pTW_EVENT>(data)->TWMessage = MSG_NULL;
                return TWRC_NOTDSEVENT;
            case DAT_PENDINGXFERS:
                return pending(msg, static_cast<pTW_PENDINGXFERS>(data));
            default:
                return fail(TWCC_BADPROTOCOL);
            }
        }
        if (dg == DG_IMAGE) {
            switch (dat) {
            case DAT_IMAGELAYOUT:
                return layout(msg, static_cast<pTW_IMAGELAYOUT>(data));
            case DAT_IMAGEINFO:
                return image_info(static_cast<pTW_IMAGEINFO>(data));
            case DAT_IMAGENATIVEXFER:
                return native_transfer(static_cast<TW_HANDLE*>(data));
            default:
                return fail(TWCC_BADPROTOCOL);
            }
        }
        return fail(TWCC_BADPROTOCOL);
    }

private:
    TW_UINT16 fail(TW_UINT16 cc)
    {
        condition_ = cc;
        return TWRC_FAILURE;
    }

    // Ends the scan cycle; SANE wants it after every page, read or not.
    void cancel()
    {
        if (h_)
            g_sane.cancel(h_);
        scanning_ = false;
    }

    void close()
    {
        cancel();
        if (h_)
            g_sane.close(h_);
        h_ = nullptr;
    }

    bool feeder() const
    {
        std::string source = Options(h_).get_string("source");
        for (char& ch : source)
            ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
        return source.find("adf") != std::string::npos || source.find("feeder") != std::string::npos;
    }

    TW_UINT16 capability(TW_UINT16 msg, pTW_CAPABILITY cap)
    {
        if (msg != MSG_SET || !cap || cap->ConType != TWON_ONEVALUE)
            return fail(TWCC_BADPROTOCOL);
        auto* p = static_cast<const BYTE*>(GlobalLock(cap->hContainer));
        if (!p || GlobalSize(cap->hContainer) < 6) {
            if (p)
                GlobalUnlock(cap->hContainer);
            return fail(TWCC_BADVALUE);
        }
        TW_UINT32 item;
        std::memcpy(&item, p + 2, 4);
        GlobalUnlock(cap->hContainer);
        Options o(h_);
        bool ok = false;
        switch (cap->Cap) {
        case ICAP_UNITS:
            ok = (item & 0xFFFF) == TWUN_INCHES;
            break;
        case ICAP_PIXELTYPE:
            switch (item & 0xFFFF) {
            case TWPT_BW:
                ok = o.set_string("mode", {"Lineart", "Binary", "Black"}) ||
                     (o.set_string("mode", {"Gray", "Grey"}) && o.set_number("depth", 1));
                break;
            case TWPT_GRAY:
                ok = o.set_string("mode", {"Gray", "Grey"});
                if (ok && o.has("depth"))
                    o.set_number("depth", 8);
                break;
            case TWPT_RGB:
                ok = o.set_string("mode", {"Color", "Colour", "RGB"});
                if (ok && o.has("depth"))
                    o.set_number("depth", 8);
                break;
            }
            break;
        case ICAP_BITDEPTH:
            ok = o.set_number("depth", item & 0xFFFF);
            break;
        case ICAP_XRESOLUTION:
            ok = o.has("x-resolution") ? o.set_number("x-resolution", fix_value(item))
                                       : o.set_number("resolution", fix_value(item));
            break;
        case ICAP_YRESOLUTION:
            ok = o.has("y-resolution") ? o.set_number("y-resolution", fix_value(item))
                                       : o.set_number("resolution", fix_value(item));
            break;
        default:
            return fail(TWCC_BADCAP);
        }
        return ok ? TWRC_SUCCESS : fail(TWCC_BADVALUE);
    }

    TW_UINT16 layout(TW_UINT16 msg, pTW_IMAGELAYOUT l)
    {
        Options o(h_);
        const char* names[4] = {"tl-x", "tl-y", "br-x", "br-y"};
        if (msg == MSG_SET) {
            TW_FIX32 f[4] = {l->Frame.Left, l->Frame.Top, l->Frame.Right, l->Frame.Bottom};
            for (int i = 0; i < 4; ++i) {
                double mm = (f[i].Whole + f[i].Frac / 65536.0) * 25.4;
                if (!o.set_number(names[i], mm))
                    return fail(TWCC_BADVALUE);
            }
            return TWRC_SUCCESS;
        }
        if (msg == MSG_GET) {
            double v[4] = {0, 0, 0, 0};
            for (int i = 0; i < 4; ++i)
                o.get_number(names[i], v[i]);
            l->Frame.Left = to_fix(v[0] / 25.4);
            l->Frame.Top = to_fix(v[1] / 25.4);
            l->Frame.Right = to_fix(v[2] / 25.4);
            l->Frame.Bottom = to_fix(v[3] / 25.4);
            l->DocumentNumber = l->PageNumber = l->FrameNumber = 1;
            return TWRC_SUCCESS;
        }
        return fail(TWCC_BADPROTOCOL);
    }

    TW_UINT16 start()
    {
        if (scanning_)
            return TWRC_SUCCESS;
        SANE_Status s = g_sane.start(h_);
        if (s == SANE_STATUS_CANCELLED)
            return TWRC_CANCEL;
        if (s != SANE_STATUS_GOOD)
            return fail(s == SANE_STATUS_NO_MEM ? TWCC_LOWMEMORY : TWCC_BUMMER);
        scanning_ = true;
        return TWRC_SUCCESS;
    }

    TW_UINT16 image_info(pTW_IMAGEINFO info)
    {
        // Options cannot be read while a page is being scanned; the
        // parameters are exact only once it has started.
        Options o(h_);
        double xres = 0, yres = 0;
        if (!scanning_) {
            if (!o.get_number("x-resolution", xres))
                o.get_number("resolution", xres);
            if (!o.get_number("y-resolution", yres))
                yres = xres;
            xres_ = xres;
            yres_ = yres;
        }
        xres = xres_;
        yres = yres_;
        TW_UINT16 rc = start();
        if (rc != TWRC_SUCCESS)
            return rc == TWRC_CANCEL ? fail(TWCC_OPERATIONERROR) : rc;
        SANE_Parameters par;
        if (g_sane.get_parameters(h_, &par) != SANE_STATUS_GOOD)
            return fail(TWCC_BUMMER);
        std::memset(info, 0, sizeof *info);
        info->XResolution = to_fix(xres);
        info->YResolution = to_fix(yres);
        info->ImageWidth = par.pixels_per_line;
        info->ImageLength = par.lines;
        bool colour = par.format != SANE_FRAME_GRAY;
        int bits = dib_bits(par.depth, colour);
        info->SamplesPerPixel = colour ? 3 : 1;
        for (int i = 0; i < info->SamplesPerPixel; ++i)
            info->BitsPerSample[i] = static_cast<TW_INT16>(bits == 1 ? 1 : 8);
        info->BitsPerPixel = static_cast<TW_INT16>(bits);
        info->PixelType = static_cast<TW_INT16>(colour ? TWPT_RGB : bits == 1 ? TWPT_BW : TWPT_GRAY);
        return TWRC_SUCCESS;
    }

    static int dib_bits(int depth, bool colour) { return colour ? 24 : depth == 1 ? 1 : 8; }

    // Reads one frame; SANE_STATUS_GOOD at its end.
    SANE_Status read_frame(const SANE_Parameters& par, std::vector<unsigned char>& out)
    {
        out.clear();
        if (par.lines > 0 && par.bytes_per_line > 0)
            out.reserve(static_cast<std::size_t>(par.lines) * static_cast<std::size_t>(par.bytes_per_line));
        unsigned char buf[65536];
        for (;;) {
            SANE_Int got = 0;
            SANE_Status s = g_sane.read(h_, buf, sizeof buf, &got);
            if (s == SANE_STATUS_EOF)
                return SANE_STATUS_GOOD;
            if (s != SANE_STATUS_GOOD)
                return s;
            out.insert(out.end(), buf, buf + got);
        }
    }

    // Every frame of the current page: grey or RGB as it comes, single
    // colour frames merged into interleaved RGB.
    TW_UINT16 read_page(Page& page)
    {
        std::vector<unsigned char> planes[3];
        std::vector<unsigned char> frame;
        for (;;) {
            TW_UINT16 rc = start();
            if (rc != TWRC_SUCCESS)
                return rc;
            SANE_Parameters par;
            if (g_sane.get_parameters(h_, &par) != SANE_STATUS_GOOD)
                return fail(TWCC_BUMMER);
            SANE_Status s = read_frame(par, frame);
            scanning_ = false;  // a frame's end needs a new sane_start for the next
            if (s == SANE_STATUS_CANCELLED)
                return TWRC_CANCEL;
            if (s != SANE_STATUS_GOOD)
                return fail(TWCC_BUMMER);
            if (par.depth != 1 && par.depth != 8 && par.depth != 16)
                return fail(TWCC_BADVALUE);
            page.width = par.pixels_per_line;
            page.depth = par.depth;
            page.bytesPerLine = par.bytes_per_line;
            if (page.bytesPerLine <= 0 || page.width <= 0)
                return fail(TWCC_BADVALUE);
            page.height = static_cast<int>(frame.size() / static_cast<std::size_t>(page.bytesPerLine));
            switch (par.format) {
            case SANE_FRAME_GRAY:
                page.colour = false;
                page.data.swap(frame);
                break;
            case SANE_FRAME_RGB:
                page.colour = true;
                page.data.swap(frame);
                break;
            case SANE_FRAME_RED:
            case SANE_FRAME_GREEN:
            case SANE_FRAME_BLUE:
                planes[par.format - SANE_FRAME_RED].swap(frame);
                break;
            default:
                return fail(TWCC_BADVALUE);
            }
            if (par.last_frame)
                break;
        }
        if (!planes[0].empty() || !planes[1].empty() || !planes[2].empty()) {
            // Interleave the three single-colour frames.
            std::size_t n = planes[0].size();
            if (planes[1].size() != n || planes[2].size() != n)
                return fail(TWCC_BADVALUE);
            int sample_bytes = page.depth == 16 ? 2 : 1;
            if (page.depth == 1)
                return fail(TWCC_BADVALUE);
            page.colour = true;
            page.data.assign(n * 3, 0);
            for (std::size_t i = 0; i < n; i += static_cast<std::size_t>(sample_bytes))
                for (int c = 0; c < 3; ++c)
                    std::memcpy(&page.data[i * 3 + static_cast<std::size_t>(c * sample_bytes)], &planes[c][i],
                                static_cast<std::size_t>(sample_bytes));
            page.bytesPerLine *= 3;
        }
        return TWRC_SUCCESS;
    }

    static unsigned sample8(const unsigned char* row, int depth, int index)
    {
        if (depth == 8)
            return row[index];
        if (depth == 16) {
            uint16_t v;
            std::memcpy(&v, row + 2 * index, 2);  // host byte order
            return v >> 8;
        }
        return (row[index / 8] >> (7 - index % 8)) & 1 ? 0 : 255;  // a set bit is black
    }

    // The page as a bottom-up packed DIB: line art 1 bit (white, black),
    // grey 8 bits with a grey ramp, colour 24 bits.
    HGLOBAL make_dib(const Page& page)
    {
        int bits = dib_bits(page.depth, page.colour);
        HGLOBAL hDib = CreateDIB(page.width, page.height, static_cast<UINT>(bits), 0);
        if (!hDib)
            return nullptr;
        auto* p = static_cast<BYTE*>(GlobalLock(hDib));
        if (!p) {
            GlobalFree(hDib);
            return nullptr;
        }
        auto* table = reinterpret_cast<RGBQUAD*>(p + sizeof(BITMAPINFOHEADER));
        if (bits == 1) {
            table[0] = RGBQUAD{255, 255, 255, 0};
            table[1] = RGBQUAD{0, 0, 0, 0};
        } else if (bits == 8) {
            for (int i = 0; i < 256; ++i)
                table[i] = RGBQUAD{static_cast<BYTE>(i), static_cast<BYTE>(i), static_cast<BYTE>(i), 0};
        }
        for (int y = 0; y < page.height; ++y) {
            const unsigned char* src = page.data.data() + static_cast<std::size_t>(y) * page.bytesPerLine;
            // SANE sends the top line first; the DIB stores it last.
            BYTE* dst = DIBPixelPtr(p, 0, static_cast<UINT>(page.height - 1 - y));
            if (!dst)
                break;
            if (bits == 1) {
                std::memcpy(dst, src, static_cast<std::size_t>((page.width + 7) / 8));
            } else if (bits == 8) {
                for (int x = 0; x < page.width; ++x)
                    dst[x] = static_cast<BYTE>(sample8(src, page.depth, x));
            } else {
                for (int x = 0; x < page.width; ++x)
                    for (int c = 0; c < 3; ++c)
                        dst[3 * x + 2 - c] = static_cast<BYTE>(sample8(src, page.depth, 3 * x + c));
            }
        }
        GlobalUnlock(hDib);
        return hDib;
    }

    TW_UINT16 native_transfer(TW_HANDLE* out)
    {
        if (!out)
            return fail(TWCC_BADVALUE);
        Page page;
        TW_UINT16 rc = read_page(page);
        if (rc != TWRC_SUCCESS)
            return rc;
        HGLOBAL h = make_dib(page);
        if (!h)
            return fail(TWCC_LOWMEMORY);
        *out = h;
        return TWRC_XFERDONE;
    }

    TW_UINT16 pending(TW_UINT16 msg, pTW_PENDINGXFERS p)
    {
        if (msg == MSG_RESET) {
            cancel();
            pending_ = 0;
        } else if (msg == MSG_ENDXFER) {
            if (pending_ == 0xFFFF) {
                // A feeder: another page when sane_start finds one.
                if (start() != TWRC_SUCCESS) {
                    cancel();
                    pending_ = 0;
                }
            } else {
                cancel();
                pending_ = 0;
            }
        } else {
            return fail(TWCC_BADPROTOCOL);
        }
        p->Count = static_cast<TW_UINT16>(pending_);
        return TWRC_SUCCESS;
    }

    std::string name_;
    DSMENTRYPROC dsm_;
    SANE_Handle h_ = nullptr;
    TW_IDENTITY self_{};
    TW_IDENTITY app_{};
    TW_UINT16 condition_ = TWCC_SUCCESS;
    bool scanning_ = false;
    unsigned pending_ = 0;
    double xres_ = 0, yres_ = 0;
};

}  // namespace

std::vector<std::unique_ptr<TwainSource>> sane_sources(DSMENTRYPROC dsm)
{
    std::vector<std::unique_ptr<TwainSource>> sources;
    if (!load_sane())
        return sources;
    ++g_sane.users;
    const SANE_Device** devices = nullptr;
    if (g_sane.get_devices(&devices, SANE_FALSE) == SANE_STATUS_GOOD && devices)
        for (const SANE_Device** d = devices; *d; ++d)
            sources.push_back(std::make_unique<SaneSource>(**d, dsm));
    return sources;
}

void sane_release()
{
    // libsane stays loaded and initialised once opened: its backends keep
    // state (and some allocations) that only a process exit clears, and
    // sane_get_devices looks for devices afresh on every call anyway.
    if (g_sane.users > 0)
        --g_sane.users;
}

#else

std::vector<std::unique_ptr<TwainSource>> sane_sources(DSMENTRYPROC)
{
    return {};
}

void sane_release() {}

#endif

}  // namespace kelm::platform
