// The PostScript printer of the Linux build: a document is a PostScript file
// whose prolog makes one device unit one point, y growing downwards from the
// top-left corner of a 612 x 792 page, so that what an application computes
// in device units lands there. Pass-through data reaches the file verbatim.
#include <cstring>

#include "platform/linux/gdi_objects.h"

namespace kelm::gdi {

namespace {

constexpr int kPageWidth = 612;
constexpr int kPageHeight = 792;

bool write_text(Dc* dc, const char* text)
{
    return std::fputs(text, dc->out) >= 0;
}

void close_passthrough(Dc* dc)
{
    if (dc->passthroughOpen) {
        write_text(dc, "\n%%EndDocument\n");
        dc->passthroughOpen = false;
    }
}

}  // namespace

int printer_start_doc(Dc* dc, const DOCINFOA* di)
{
    if (dc->out || !di || !di->lpszOutput || !*di->lpszOutput)
        return SP_ERROR;
    dc->out = std::fopen(di->lpszOutput, "wb");
    if (!dc->out)
        return SP_ERROR;
    dc->pages = 0;
    dc->pageOpen = dc->passthroughOpen = false;
    char prolog[512];
    std::snprintf(prolog, sizeof prolog,
                  "%%!PS-Adobe-3.0\n%%%%Creator: kelm3\n%%%%BoundingBox: 0 0 %d %d\n%%%%Pages: (atend)\n"
                  "%%%%EndComments\n%%%%BeginSetup\n<< /PageSize [%d %d] >> setpagedevice\n%%%%EndSetup\n",
                  kPageWidth, kPageHeight, kPageWidth, kPageHeight);
    if (!write_text(dc, prolog)) {
        printer_abort(dc);
        return SP_ERROR;
    }
    return 1;  // the job identifier
}

int printer_start_page(Dc* dc)
{
    if (!dc->out)
        return SP_ERROR;
    if (dc->pageOpen)
        return 1;
    ++dc->pages;
    char text[128];
    std::snprintf(text, sizeof text, "%%%%Page: %d %d\ngsave 0 %d translate 1 -1 scale\n", dc->pages, dc->pages,
                  kPageHeight);
    dc->pageOpen = true;
    return write_text(dc, text) ? 1 : SP_ERROR;
}

int printer_end_page(Dc* dc)
{
    if (!dc->out || !dc->pageOpen)
        return SP_ERROR;
    close_passthrough(dc);
    dc->pageOpen = false;
    return write_text(dc, "grestore showpage\n") ? 1 : SP_ERROR;
}

int printer_end_doc(Dc* dc)
{
    if (!dc->out)
        return SP_ERROR;
    if (dc->pageOpen)
        printer_end_page(dc);
    char text[64];
    std::snprintf(text, sizeof text, "%%%%Trailer\n%%%%Pages: %d\n%%%%EOF\n", dc->pages);
    bool ok = write_text(dc, text);
    ok = std::fclose(dc->out) == 0 && ok;
    dc->out = nullptr;
    return ok ? 1 : SP_ERROR;
}

void printer_abort(Dc* dc)
{
    if (dc->out)
        std::fclose(dc->out);
    dc->out = nullptr;
    dc->pageOpen = dc->passthroughOpen = false;
}

int printer_escape(Dc* dc, int code, int cjIn, const char* in)
{
    switch (code) {
    case QUERYESCSUPPORT: {
        if (!in || cjIn < 4)
            return 0;
        int asked;
        std::memcpy(&asked, in, sizeof asked);
        return asked == QUERYESCSUPPORT || asked == POSTSCRIPT_DATA || asked == POSTSCRIPT_IGNORE;
    }
    case POSTSCRIPT_IGNORE:
        return 1;
    case POSTSCRIPT_DATA: {
        if (!in || cjIn < 2)
            return SP_ERROR;
        WORD n;
        std::memcpy(&n, in, sizeof n);
        if (n > cjIn - 2 || !dc->out)
            return SP_ERROR;  // a count beyond the record, or no document to write into
        if (!dc->pageOpen && printer_start_page(dc) != 1)
            return SP_ERROR;
        if (!dc->passthroughOpen) {
            if (!write_text(dc, "%%BeginDocument: passthrough\n"))
                return SP_ERROR;
            dc->passthroughOpen = true;
        }
        if (n && std::fwrite(in + 2, 1, n, dc->out) != n)
            return SP_ERROR;
        return 1;
    }
    default:
        return 0;
    }
}

}  // namespace kelm::gdi
