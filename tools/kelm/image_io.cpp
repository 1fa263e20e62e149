// Reading and writing image files: where the bytes come from (a file or
// standard input), which format they are (by signature, never by name), and
// where saved bytes go (by the output name's extension). The library itself
// reads and writes BMP from memory through mmio memory files, so the tool
// can convert and check the bytes before the library sees them and write the
// result safely afterwards.
#include "image_io.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "bmp_edge.h"
#include "png_io.h"
#include "safe_write.h"

namespace kelm_cli {
namespace {

bool read_all(int fd, Bytes* out, std::string* reason)
{
    uint8_t buf[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            *reason = std::strerror(errno);
            return false;
        }
        if (n == 0)
            return true;
        out->insert(out->end(), buf, buf + n);
    }
}

bool read_input(const std::string& path, Bytes* out, std::string* reason)
{
    if (path == "-") {
        if (!read_all(STDIN_FILENO, out, reason))
            return false;
    } else {
        struct stat st;
        if (::stat(path.c_str(), &st) != 0) {
            *reason = errno == ENOENT ? "no such file" : std::strerror(errno);
            return false;
        }
        if (S_ISDIR(st.st_mode)) {
            *reason = "a directory, not an image file";
            return false;
        }
        FILE* f = std::fopen(path.c_str(), "rb");
        if (!f) {
            *reason = std::strerror(errno);
            return false;
        }
        const bool ok = read_all(fileno(f), out, reason);
        std::fclose(f);
        if (!ok)
            return false;
    }
    if (out->empty()) {
        *reason = "an empty file";
        return false;
    }
    return true;
}

bool starts_with(const Bytes& b, std::string_view sig)
{
    return b.size() >= sig.size() && std::memcmp(b.data(), sig.data(), sig.size()) == 0;
}

// Formats that are recognised only to be named in a refusal.
const char* foreign_format(const Bytes& b)
{
    if (starts_with(b, "\xFF\xD8\xFF"))
        return "a JPEG file";
    if (starts_with(b, "GIF87a") || starts_with(b, "GIF89a"))
        return "a GIF file";
    if (starts_with(b, std::string_view("II*\0", 4)) || starts_with(b, std::string_view("MM\0*", 4)))
        return "a TIFF file";
    if (starts_with(b, "RIFF") && b.size() >= 12 && std::memcmp(b.data() + 8, "WEBP", 4) == 0)
        return "a WebP file";
    if (starts_with(b, "BA"))
        return "an OS/2 bitmap array";
    if (starts_with(b, "CI") || starts_with(b, "IC"))
        return "an OS/2 icon";
    if (starts_with(b, "CP") || starts_with(b, "PT"))
        return "an OS/2 pointer";
    if (starts_with(b, std::string_view("\0\0\1\0", 4)))
        return "a Windows icon";
    if (starts_with(b, "%PDF"))
        return "a PDF file";
    return nullptr;
}

bool headerless_dib(const Bytes& b)
{
    if (b.size() < 4)
        return false;
    ByteReader r(b);
    const uint32_t hs = r.le32(0);
    return hs == 12 || (hs >= 16 && hs <= 64) || hs == 108 || hs == 124;
}

HGLOBAL library_load(Bytes& bytes)
{
    MMIOINFO mi{};
    mi.fccIOProc = FOURCC_MEM;
    mi.pchBuffer = reinterpret_cast<HPSTR>(bytes.data());
    mi.cchBuffer = static_cast<LONG>(bytes.size());
    HMMIO h = mmioOpenA(nullptr, &mi, MMIO_READ);
    if (!h)
        return nullptr;
    HGLOBAL dib = LoadDIB(h);
    mmioClose(h, 0);
    return dib;
}

bool library_save(HGLOBAL dib, Bytes* out, std::string* reason)
{
    // SaveDIB writes the file header and at most the block's bytes.
    const SIZE_T block = GlobalSize(dib);
    if (block == 0 || block > 0x7FFFFFFF - 64) {
        *reason = "the image block is damaged";
        return false;
    }
    out->assign(block + 64, 0);
    MMIOINFO mi{};
    mi.fccIOProc = FOURCC_MEM;
    mi.pchBuffer = reinterpret_cast<HPSTR>(out->data());
    mi.cchBuffer = static_cast<LONG>(out->size());
    HMMIO h = mmioOpenA(nullptr, &mi, MMIO_READWRITE);
    if (!h) {
        *reason = "out of memory";
        return false;
    }
    const BOOL ok = SaveDIB(h, dib);
    const LONG written = mmioSeek(h, 0, SEEK_CUR);
    mmioClose(h, 0);
    if (!ok || written <= 0) {
        *reason = "the library refused to write this image (its layout does not fit its block)";
        return false;
    }
    out->resize(static_cast<size_t>(written));
    return true;
}

}  // namespace

const char* format_name(FileFormat f)
{
    switch (f) {
    case FileFormat::Bmp: return "BMP";
    case FileFormat::PackedDib: return "DIB";
    case FileFormat::Png: return "PNG";
    }
    return "?";
}

bool wants_png(const std::string& path)
{
    if (path.size() < 4)
        return false;
    std::string ext = path.substr(path.size() - 4);
    for (char& c : ext)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return ext == ".png";
}

bool load_image(const std::string& path, LoadedImage* out, std::string* reason)
{
    Bytes bytes;
    if (!read_input(path, &bytes, reason))
        return false;
    out->stored.fileSize = bytes.size();
    if (starts_with(bytes, "\x89PNG\r\n\x1A\n")) {
        out->dib = png_decode(bytes, &out->stored, &out->notes, reason);
        return out->dib != nullptr;
    }
    const bool bmp = starts_with(bytes, "BM");
    if (!bmp) {
        if (const char* other = foreign_format(bytes)) {
            *reason = std::string(other) + ", not a BMP or PNG image";
            return false;
        }
        if (!headerless_dib(bytes)) {
            *reason = "not a BMP or PNG image (no 'BM' or PNG signature, and no bitmap header size at its start)";
            return false;
        }
    }
    BmpPrepared prepared;
    if (!prepare_bmp(bytes, bmp, &out->stored, &prepared, &out->notes, reason))
        return false;
    out->dib = library_load(prepared.forLibrary);
    if (!out->dib) {
        *reason = prepared.truncation.empty() ? "the library did not load it (a header or layout it does not read)"
                                              : prepared.truncation;
        return false;
    }
    if (!prepared.truncation.empty())
        out->warnings.push_back(prepared.truncation + ": the missing bytes read as 0");
    return true;
}

bool save_image(const std::string& path, HGLOBAL dib, std::vector<std::string>* notes, std::string* reason)
{
    Bytes bytes;
    const bool ok = wants_png(path) ? png_encode(dib, &bytes, notes, reason) : library_save(dib, &bytes, reason);
    return ok && write_file_safely(path, bytes.data(), bytes.size(), reason);
}

}  // namespace kelm_cli
