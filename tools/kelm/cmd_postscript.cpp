// `kelm postscript IN OUT.ps [--size WxH]`: prints a CMYK image through the
// library's PostScript road into a printer file, so the file carries the
// image's own separations as a DeviceCMYK image. The printer is the platform
// layer's PostScript printer (one device unit a point, from the page's
// top-left corner); its document is written to a temporary file beside OUT
// and renamed over it only when complete.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "cli.h"
#include "json.h"

namespace kelm_cli {

namespace {

bool is_cmyk_image(HGLOBAL dib)
{
    const void* p = GlobalLock(dib);
    const bool cmyk = p && DIBIsCmyk(p);
    GlobalUnlock(dib);
    return cmyk;
}

// A new temporary file name in the folder of `target` (the working folder
// for standard output).
std::string temporary_beside(const std::string& target)
{
    std::string dir = ".";
    if (target != "-") {
        const auto slash = target.rfind('/');
        if (slash != std::string::npos)
            dir = slash == 0 ? "/" : target.substr(0, slash);
    }
    std::string name = dir + "/.kelm-postscript-XXXXXX";
    const int fd = mkstemp(name.data());
    if (fd < 0)
        return {};
    close(fd);
    return name;
}

bool copy_to_stdout(const std::string& path)
{
    FILE* in = std::fopen(path.c_str(), "rb");
    if (!in)
        return false;
    char buf[65536];
    size_t n;
    bool ok = true;
    while ((n = std::fread(buf, 1, sizeof buf, in)) > 0)
        ok = ok && std::fwrite(buf, 1, n, stdout) == n;
    std::fclose(in);
    return ok && std::fflush(stdout) == 0;
}

}  // namespace

int cmd_postscript(const Args& args)
{
    ParsedArgs a;
    std::string error;
    if (!parse_args(args, {}, {"--size"}, &a, &error))
        return usage_error("postscript", error);
    if (a.positional.size() != 2)
        return usage_error("postscript", "expected IN and OUT.ps");
    const std::string in(a.positional[0]), out(a.positional[1]);
    long dw = 0, dh = 0;
    if (auto size = a.value("--size")) {
        unsigned bits = 0;
        const std::string s(*size);
        if (!parse_geometry(s + "x8", &dw, &dh, &bits) || dw <= 0 || dh <= 0 || dw > 1000000 || dh > 1000000)
            return usage_error("postscript", "not a size: '" + s + "' (expected WIDTHxHEIGHT in points, 1 to 1000000)");
    }

    LoadedImage img;
    if (!load_image(in, &img, &error))
        return failure(in, error);
    report_load(in, img);
    BITMAPINFOHEADER bi;
    if (DIBInfo(img.dib, &bi, sizeof bi) != 1) {
        DIBFree(img.dib);
        return failure(in, "cannot read the image's header");
    }
    if (!is_cmyk_image(img.dib) || bi.biBitCount != 32 || bi.biCompression != BI_RGB) {
        DIBFree(img.dib);
        return failure(in, "not a 32-bit CMYK image: only CMYK images are written as PostScript (the printer "
                           "shows their own inks); an RGB image needs a printer driver that renders it, which "
                           "this printer does not");
    }
    if (!dw) {
        dw = bi.biWidth;
        dh = bi.biHeight < 0 ? -static_cast<long>(bi.biHeight) : bi.biHeight;
    }

    const std::string temp = temporary_beside(out);
    if (temp.empty()) {
        DIBFree(img.dib);
        return failure(out, std::string("cannot create a temporary file beside it: ") + std::strerror(errno));
    }
    HDC printer = CreateDCA(nullptr, KELM3_PS_PRINTER, nullptr, nullptr);
    DOCINFOA doc{};
    doc.cbSize = sizeof doc;
    doc.lpszDocName = in.c_str();
    doc.lpszOutput = temp.c_str();
    bool ok = printer && StartDocA(printer, &doc) > 0 && StartPage(printer) > 0;
    ok = ok && StretchDIBBlt(printer, 0, 0, static_cast<int>(dw), static_cast<int>(dh), img.dib, 0, 0, bi.biWidth,
                             bi.biHeight < 0 ? -bi.biHeight : bi.biHeight, SRCCOPY) == 1;
    ok = ok && EndPage(printer) > 0;
    ok = printer && EndDoc(printer) > 0 && ok;
    if (printer)
        DeleteDC(printer);
    DIBFree(img.dib);
    if (ok)
        ok = out == "-" ? copy_to_stdout(temp) : std::rename(temp.c_str(), out.c_str()) == 0;
    const int saved = errno;
    std::remove(temp.c_str());
    if (!ok)
        return failure(out == "-" ? "(standard output)" : out, std::string("cannot write: ") + std::strerror(saved));

    FILE* report = out == "-" ? stderr : stdout;
    if (options().json) {
        std::fprintf(report, "{\"file\":%s,\"width\":%ld,\"height\":%ld,\"pageWidth\":612,\"pageHeight\":792}\n",
                     json_string(out).c_str(), dw, dh);
    } else if (out != "-" && !options().quiet) {
        std::printf("%s: %dx%d CMYK image as DeviceCMYK PostScript, %ldx%ld points at the page's top-left corner\n",
                    out.c_str(), static_cast<int>(bi.biWidth), static_cast<int>(bi.biHeight), dw, dh);
    }
    return kExitOk;
}

}  // namespace kelm_cli
