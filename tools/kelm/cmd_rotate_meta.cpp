// `kelm rotate-wmf IN OUT ANGLE` and `kelm rotate-emf IN OUT ANGLE`: turn a
// Windows metafile or an enhanced metafile by an angle in degrees (one
// decimal, counter-clockwise) with RotateMetaFile / RotateEnhMetaFile.
// A WMF file may start with the 22-byte placeable header; it is read and
// written again around the turned metafile, with the turned bounding box.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "cli.h"
#include "json.h"
#include "progress.h"
#include "safe_write.h"

namespace kelm_cli {

namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint32_t kPlaceableKey = 0x9AC6CDD7;
constexpr size_t kPlaceableSize = 22;

uint16_t rd16(const Bytes& b, size_t off)
{
    return static_cast<uint16_t>(b[off] | (b[off + 1] << 8));
}
uint32_t rd32(const Bytes& b, size_t off)
{
    return rd16(b, off) | (static_cast<uint32_t>(rd16(b, off + 2)) << 16);
}
void wr16(Bytes& b, size_t off, uint32_t v)
{
    b[off] = static_cast<uint8_t>(v);
    b[off + 1] = static_cast<uint8_t>(v >> 8);
}

// "90", "-12.5" -> tenths of a degree.
std::optional<long> parse_tenths(std::string_view s)
{
    const size_t dot = s.find('.');
    const std::string_view whole = s.substr(0, dot);
    if (whole.empty() || whole == "-" || whole == "+")
        return std::nullopt;
    auto v = parse_long(whole);
    if (!v || *v < -214748364 || *v > 214748364)
        return std::nullopt;
    long tenths = *v * 10;
    if (dot != std::string_view::npos) {
        const std::string_view frac = s.substr(dot + 1);
        if (frac.size() != 1 || frac[0] < '0' || frac[0] > '9')
            return std::nullopt;
        tenths += (whole[0] == '-' ? -1 : 1) * (frac[0] - '0');
    }
    return tenths;
}

bool read_file(const std::string& path, Bytes* out, std::string* reason)
{
    FILE* f = path == "-" ? stdin : nullptr;
    if (!f) {
        struct stat st;
        if (::stat(path.c_str(), &st) != 0) {
            *reason = errno == ENOENT ? "no such file" : std::strerror(errno);
            return false;
        }
        if (S_ISDIR(st.st_mode)) {
            *reason = "a directory, not a metafile";
            return false;
        }
        f = std::fopen(path.c_str(), "rb");
        if (!f) {
            *reason = std::strerror(errno);
            return false;
        }
    }
    uint8_t buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
        out->insert(out->end(), buf, buf + n);
    const bool failed = std::ferror(f);
    if (f != stdin)
        std::fclose(f);
    if (failed) {
        *reason = "read error";
        return false;
    }
    if (out->empty()) {
        *reason = "an empty file";
        return false;
    }
    return true;
}

struct Parsed {
    std::string in, out;
    long tenths = 0;
};

int parse(const char* cmd, const Args& args, Parsed* p)
{
    ParsedArgs a;
    std::string error;
    if (!parse_args(args, {}, {}, &a, &error))
        return usage_error(cmd, error);
    if (a.positional.size() != 3)
        return usage_error(cmd, "expected IN OUT ANGLE");
    const auto tenths = parse_tenths(a.positional[2]);
    if (!tenths)
        return usage_error(cmd, "ANGLE is degrees with at most one decimal, e.g. 90, -12.5: '" +
                                    std::string(a.positional[2]) + "'");
    p->in = a.positional[0];
    p->out = a.positional[1];
    p->tenths = *tenths;
    return -1;
}

void report(const std::string& out, long tenths, const char* what, long a, long b, long c, long d, size_t bytes)
{
    FILE* to = out == "-" ? stderr : stdout;
    if (options().json)
        std::fprintf(to, "{\"file\":%s,\"tenths\":%ld,\"%s\":[%ld,%ld,%ld,%ld],\"bytes\":%zu}\n",
                     json_string(out).c_str(), tenths, what, a, b, c, d, bytes);
    else if (!options().quiet)
        std::fprintf(to, "%s: turned by %ld.%ld degrees, %s %ld %ld %ld %ld, %zu bytes\n", display_name(out).c_str(),
                     tenths / 10, (tenths < 0 ? -tenths : tenths) % 10, what, a, b, c, d, bytes);
}

}  // namespace

int cmd_rotate_wmf(const Args& args)
{
    Parsed p;
    if (int rc = parse("rotate-wmf", args, &p); rc >= 0)
        return rc;
    Bytes file;
    std::string error;
    if (!read_file(p.in, &file, &error))
        return failure(display_name(p.in), error);
    const bool placeable = file.size() >= kPlaceableSize && rd32(file, 0) == kPlaceableKey;
    const size_t start = placeable ? kPlaceableSize : 0;
    if (file.size() - start < 18 || rd16(file, start + 2) != 9 || (rd16(file, start) != 1 && rd16(file, start) != 2))
        return failure(display_name(p.in), "not a Windows metafile (no 18-byte metafile header)");
    HMETAFILE src = SetMetaFileBitsEx(static_cast<UINT>(file.size() - start), file.data() + start);
    if (!src)
        return failure(display_name(p.in), "the metafile's records cannot be read");
    HMETAFILE turned;
    {
        Progress progress("rotate-wmf", 1);
        turned = RotateMetaFile(src, static_cast<LONG>(p.tenths), nullptr);
        progress.update(1);
    }
    DeleteMetaFile(src);
    if (!turned)
        return failure(display_name(p.in), "cannot rotate: no memory for the new metafile");
    SIZE ext{0, 0};
    GetMetaFileWindowExt(turned, &ext, nullptr, nullptr);
    const size_t head = placeable ? kPlaceableSize : 0;
    const UINT size = GetMetaFileBitsEx(turned, 0, nullptr);
    Bytes out(head + size);
    GetMetaFileBitsEx(turned, size, out.data() + head);
    DeleteMetaFile(turned);
    if (placeable) {
        // Same units per inch; the box is the turned picture's window.
        std::memcpy(out.data(), file.data(), kPlaceableSize);
        wr16(out, 4, 0);
        wr16(out, 6, 0);
        wr16(out, 8, 0);
        wr16(out, 10, static_cast<uint32_t>(ext.cx));
        wr16(out, 12, static_cast<uint32_t>(ext.cy));
        uint16_t sum = 0;
        for (size_t i = 0; i < 20; i += 2)
            sum ^= rd16(out, i);
        wr16(out, 20, sum);
    }
    if (!write_file_safely(p.out, out.data(), out.size(), &error))
        return failure(display_name(p.out), "cannot write: " + error);
    report(p.out, p.tenths, "window", 0, 0, ext.cx, ext.cy, out.size());
    return kExitOk;
}

int cmd_rotate_emf(const Args& args)
{
    Parsed p;
    if (int rc = parse("rotate-emf", args, &p); rc >= 0)
        return rc;
    Bytes file;
    std::string error;
    if (!read_file(p.in, &file, &error))
        return failure(display_name(p.in), error);
    if (file.size() < 88 || rd32(file, 0) != 1 || rd32(file, 40) != 0x464D4520)
        return failure(display_name(p.in), "not an enhanced metafile (no EMF header)");
    HENHMETAFILE src = SetEnhMetaFileBits(static_cast<UINT>(file.size()), file.data());
    if (!src)
        return failure(display_name(p.in), "the metafile's records cannot be read");
    HENHMETAFILE turned;
    {
        Progress progress("rotate-emf", 1);
        turned = RotateEnhMetaFile(src, static_cast<LONG>(p.tenths));
        progress.update(1);
    }
    DeleteEnhMetaFile(src);
    if (!turned)
        return failure(display_name(p.in), "cannot rotate: no memory for the new metafile");
    ENHMETAHEADER hdr{};
    GetEnhMetaFileHeader(turned, sizeof hdr, &hdr);
    Bytes out(GetEnhMetaFileBits(turned, 0, nullptr));
    GetEnhMetaFileBits(turned, static_cast<UINT>(out.size()), out.data());
    DeleteEnhMetaFile(turned);
    if (!write_file_safely(p.out, out.data(), out.size(), &error))
        return failure(display_name(p.out), "cannot write: " + error);
    report(p.out, p.tenths, "bounds", hdr.rclBounds.left, hdr.rclBounds.top, hdr.rclBounds.right,
           hdr.rclBounds.bottom, out.size());
    return kExitOk;
}

}  // namespace kelm_cli
