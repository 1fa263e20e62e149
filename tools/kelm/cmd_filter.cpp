// `kelm filter IN OUT --kernel FILE [--offset N]`: convolution of a 24- or
// 32-bit image with an integer kernel through CreateFIRFilteredDIB.
#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

#include "cli.h"

namespace kelm_cli {

namespace {

constexpr long kMaxKernel = 99;

// A kernel file: "W H", then H rows of W integer weights in 1/256 (256 is
// 1.0); W and H odd. Lines starting with # are comments.
bool read_kernel(const std::string& path, std::vector<LONG>* weights, int* kw, int* kh, std::string* reason)
{
    std::ifstream f(path);
    if (!f) {
        *reason = "cannot open the kernel file";
        return false;
    }
    std::vector<std::string> words;
    std::string line;
    while (std::getline(f, line)) {
        if (!line.empty() && line[0] == '#')
            continue;
        size_t i = 0;
        while (i < line.size()) {
            while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r'))
                ++i;
            const size_t start = i;
            while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r')
                ++i;
            if (i > start)
                words.push_back(line.substr(start, i - start));
        }
    }
    const auto w = words.size() > 0 ? parse_long(words[0]) : std::nullopt;
    const auto h = words.size() > 1 ? parse_long(words[1]) : std::nullopt;
    if (!w || !h || *w < 1 || *h < 1 || *w > kMaxKernel || *h > kMaxKernel || *w % 2 == 0 || *h % 2 == 0) {
        *reason = "the kernel file must start with its width and height, odd numbers from 1 to " +
                  std::to_string(kMaxKernel);
        return false;
    }
    const size_t n = static_cast<size_t>(*w * *h);
    if (words.size() != n + 2) {
        *reason = "a " + std::to_string(*w) + "x" + std::to_string(*h) + " kernel needs " + std::to_string(n) +
                  " weights, the file has " + std::to_string(words.size() - 2);
        return false;
    }
    // Weights of up to 2^23 keep every sum of a 99 x 99 kernel over 16-bit
    // samples well inside 64 bits.
    weights->clear();
    for (size_t i = 0; i < n; ++i) {
        const auto v = parse_long(words[i + 2]);
        if (!v || *v < -8388608 || *v > 8388608) {
            *reason = "weight " + std::to_string(i + 1) + " is not an integer from -8388608 to 8388608: '" +
                      words[i + 2] + "'";
            return false;
        }
        weights->push_back(static_cast<LONG>(*v));
    }
    *kw = static_cast<int>(*w);
    *kh = static_cast<int>(*h);
    return true;
}

}  // namespace

int filter_image(const char* verb, const std::string& in, const std::string& out, const LONG* kernel, int kw, int kh,
                 int offset)
{
    LoadedImage img;
    if (int status = load_for_pixels(verb, in, &img); status != kExitOk)
        return status;
    ImageFacts f;
    image_facts(img.dib, &f);
    if (f.completed.biBitCount != 24 && f.completed.biBitCount != 32) {
        DIBFree(img.dib);
        return failure(in, std::string("cannot ") + verb + ": " + std::to_string(f.completed.biBitCount) +
                               " bits; the filters work on 24- and 32-bit images (kelm convert IN OUT --bits 24)");
    }
    if (!widen_unusual_masks(in, &img.dib) || !image_facts(img.dib, &f)) {
        DIBFree(img.dib);
        return failure(in, std::string("cannot ") + verb + ": out of memory widening it to 24 bits");
    }
    HGLOBAL result;
    if (kernel) {
        // The library lays kernel row 0 over the row kh/2 lines earlier in
        // memory, which in a bottom-up image is below the pixel: the rows
        // are handed over bottom first so that the file reads as displayed.
        std::vector<LONG> flipped(static_cast<size_t>(kw) * kh);
        for (int r = 0; r < kh; ++r)
            for (int c = 0; c < kw; ++c)
                flipped[static_cast<size_t>(r) * kw + c] = kernel[static_cast<size_t>(kh - 1 - r) * kw + c];
        result = CreateFIRFilteredDIB(img.dib, flipped.data(), kw, kh, offset);
    } else {
        result = CreateSharpenedDIB(img.dib);
    }
    if (!result) {
        DIBFree(img.dib);
        return failure(in, std::string("cannot ") + verb + ": out of memory");
    }
    // The result carries the header, any bit-field masks and the pixels. A
    // colour table (a display hint at these depths) comes from the source,
    // and an alpha channel, which the filter leaves 0, is kept as it was.
    const BYTE* src = static_cast<const BYTE*>(GlobalLock(img.dib));
    BYTE* dst = static_cast<BYTE*>(GlobalLock(result));
    if (src && dst) {
        std::copy(src + f.completed.biSize, src + f.pixelOffset, dst + f.completed.biSize);
        if (f.completed.biBitCount == 32 && f.completed.biPlanes == 1 && !f.cmyk && f.haveMasks &&
            f.masks[3] == 0xFF000000u)
            for (uint64_t y = 0; y < static_cast<uint64_t>(f.completed.biHeight); ++y)
                for (uint64_t x = 0; x < static_cast<uint64_t>(f.completed.biWidth); ++x) {
                    const uint64_t at = f.pixelOffset + y * f.stride + 4 * x + 3;
                    dst[at] = src[at];
                }
    }
    if (dst)
        GlobalUnlock(result);
    if (src)
        GlobalUnlock(img.dib);
    DIBFree(img.dib);
    const std::string size = std::to_string(f.completed.biWidth) + "x" + std::to_string(f.completed.biHeight);
    if (!kernel)
        return save_and_report(out, result, size + ", sharpened", "\"width\":" + std::to_string(f.completed.biWidth) +
                                                                      ",\"height\":" +
                                                                      std::to_string(f.completed.biHeight));
    return save_and_report(out, result,
                           size + ", filtered with a " + std::to_string(kw) + "x" + std::to_string(kh) + " kernel",
                           "\"width\":" + std::to_string(f.completed.biWidth) +
                               ",\"height\":" + std::to_string(f.completed.biHeight) +
                               ",\"kernel\":[" + std::to_string(kw) + "," + std::to_string(kh) +
                               "],\"offset\":" + std::to_string(offset));
}

int cmd_filter(const Args& args)
{
    ParsedArgs a;
    std::string error;
    if (!parse_args(args, {}, {"--kernel", "--offset"}, &a, &error))
        return usage_error("filter", error);
    if (a.positional.size() != 2)
        return usage_error("filter", "expected IN OUT --kernel FILE");
    const auto kernelArg = a.value("--kernel");
    if (!kernelArg)
        return usage_error("filter", "--kernel FILE is required (see kelm filter --help for its form)");
    long offset = 0;
    if (auto o = a.value("--offset")) {
        const auto v = parse_long(*o);
        if (!v || *v < -65535 || *v > 65535)
            return usage_error("filter", "--offset takes an integer from -65535 to 65535: '" + std::string(*o) + "'");
        offset = *v;
    }
    std::vector<LONG> kernel;
    int kw = 0, kh = 0;
    const std::string kernelPath(*kernelArg);
    if (!read_kernel(kernelPath, &kernel, &kw, &kh, &error))
        return failure(kernelPath, error);
    return filter_image("filter", std::string(a.positional[0]), std::string(a.positional[1]), kernel.data(), kw, kh,
                        static_cast<int>(offset));
}

}  // namespace kelm_cli
