// Checks on a loaded image's form. The library may hand back images as
// stored when it does not process their form; commands that work on pixels
// ask here first, so that they refuse with a reason instead of failing
// quietly later.
#include "image_form.h"

#include "cli.h"

namespace kelm_cli {

std::string pixel_form_problem(HGLOBAL dib)
{
    BITMAPINFOHEADER bi;
    if (!DIBInfo(dib, &bi, sizeof bi))
        return "the image block is damaged";
    const std::string depth = std::to_string(bi.biBitCount) + " bits";
    if (bi.biSize != 40 && bi.biSize != 108)
        return "a " + std::to_string(bi.biSize) + "-byte header, which the pixel functions do not read";
    if (bi.biCompression == BI_RLE8 || bi.biCompression == BI_RLE4)
        return std::string("its pixels are still compressed (") + compression_name(bi.biCompression) +
               "): they could not be decoded";
    if (bi.biCompression != BI_RGB && bi.biCompression != BI_BITFIELDS)
        return "compression " + std::to_string(bi.biCompression) + " is not supported by the pixel functions";
    if (bi.biHeight < 0)
        return "its rows are stored top-down, which the pixel functions do not address";
    if (bi.biPlanes == 2) {
        if (bi.biBitCount != 8 && bi.biBitCount != 24 && bi.biBitCount != 32)
            return depth + " in two planes is not supported by the pixel functions (8, 24 or 32)";
        return "";
    }
    if (bi.biPlanes != 1)
        return std::to_string(bi.biPlanes) + " planes are not supported by the pixel functions";
    switch (bi.biBitCount) {
    case 1: case 4: case 8: case 16: case 24: case 32: return "";
    default: return depth + " per pixel are not supported by the pixel functions (1, 4, 8, 16, 24 or 32)";
    }
}

std::vector<std::string> form_changes(const StoredFile& from, HGLOBAL dib, const std::string& outPath)
{
    std::vector<std::string> out;
    const bool png = wants_png(outPath);
    const FileFormat to = png ? FileFormat::Png : FileFormat::Bmp;
    if (from.format != to && !(from.format == FileFormat::PackedDib && to == FileFormat::Bmp))
        out.push_back(std::string("saved as ") + format_name(to) + " (the file was " + format_name(from.format) +
                      ", chosen by the name's extension)");
    if (from.format == FileFormat::PackedDib && to == FileFormat::Bmp)
        out.push_back("saved as a BMP file with a file header (the file was a bare packed DIB)");
    if (from.format == FileFormat::Png || png)
        return out;
    BITMAPINFOHEADER bi{};
    DIBInfo(dib, &bi, sizeof bi);
    const DWORD c = from.bi.biCompression;
    if (!from.os2 && (c == BI_RLE8 || c == BI_RLE4) && bi.biCompression == BI_RGB)
        out.push_back(std::string("saved uncompressed (the file was ") + (c == BI_RLE8 ? "RLE8" : "RLE4") + ")");
    if (from.os2 && (c == 1 || c == 2) && bi.biCompression == BI_RGB)
        out.push_back(std::string("saved uncompressed (the file was ") + (c == 1 ? "RLE8" : "RLE4") + ")");
    if (from.bi.biHeight < 0 && bi.biHeight > 0)
        out.push_back("rows saved bottom-up (the file was top-down)");
    if (from.headerSize != bi.biSize)
        out.push_back("saved with a " + std::to_string(bi.biSize) + "-byte Windows header (the file had a " +
                      std::to_string(from.headerSize) + "-byte " + from.headerKind + " header)");
    return out;
}

}  // namespace kelm_cli
