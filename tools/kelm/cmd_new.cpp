// `kelm new`: makes an image in memory with CreateDIB, optionally fills it
// through the pixel API, shows what the library made, and saves it when an
// output file is named.
#include <cstdio>
#include <string>

#include "cli.h"
#include "colour_arg.h"
#include "json.h"

namespace kelm_cli {
namespace {

// Images above this many pixels are shown by their header only.
constexpr long long kSampleLimit = 1 << 20;

bool depth_allowed(unsigned bits, bool twoPlane)
{
    if (twoPlane)
        return bits == 8 || bits == 24 || bits == 32;
    switch (bits) {
    case 1: case 4: case 8: case 16: case 24: case 32: case 48: case 64: return true;
    default: return false;
    }
}

}  // namespace

int cmd_new(const Args& args)
{
    ParsedArgs a;
    std::string error;
    if (!parse_args(args, {"--two-plane"}, {"--fill"}, &a, &error))
        return usage_error("new", error);
    const bool json = options().json, twoPlane = a.flags.count("--two-plane") > 0;
    if (a.positional.empty())
        return usage_error("new", "missing WIDTHxHEIGHTxBITS");
    if (a.positional.size() > 2)
        return usage_error("new", "unexpected argument '" + std::string(a.positional[2]) + "'");
    const std::string geometry(a.positional[0]);
    const std::string out = a.positional.size() == 2 ? std::string(a.positional[1]) : std::string();
    std::optional<DWORD> fill;
    if (auto f = a.value("--fill"); f && !(fill = parse_colour(*f, &error)))
        return usage_error("new", error);
    long w, h;
    unsigned bits;
    if (!parse_geometry(geometry, &w, &h, &bits))
        return usage_error("new", "not a geometry: '" + geometry + "' (expected WIDTHxHEIGHTxBITS, e.g. 640x480x8)");
    if (w < 0 || h < 0 || w > INT32_MAX || h > INT32_MAX)
        return usage_error("new", "width and height must be 0 to 2147483647: '" + geometry + "'");
    if (!depth_allowed(bits, twoPlane))
        return usage_error("new", "depth " + std::to_string(bits) + " not supported: " +
                                      (twoPlane ? "with --two-plane BITS is 8, 24 or 32"
                                                : "BITS is 1, 4, 8, 16, 24, 32, or 48 or 64 (two planes)"));

    HGLOBAL dib = CreateDIB(static_cast<LONG>(w), static_cast<LONG>(h), bits, twoPlane ? KELM3_CREATE_TWOPLANE : 0);
    if (!dib)
        return failure("cannot create a " + geometry + (twoPlane ? " two-plane" : "") +
                       " image: too large for a 32-bit size, or out of memory");
    if (fill) {
        LPTRDIB rw = RWOpenDIB(dib);
        if (!rw) {
            DIBFree(dib);
            return failure("cannot open the new image for pixel access");
        }
        for (long y = 0; y < h; ++y)
            for (long x = 0; x < w; ++x)
                RWSetPixel(rw, static_cast<int>(x), static_cast<int>(y), *fill);
        RWClose(rw);
    }
    if (!out.empty()) {
        std::vector<std::string> notes;
        if (!save_image(out, dib, &notes, &error)) {
            DIBFree(dib);
            return failure(out == "-" ? "(standard output)" : out, "cannot write: " + error);
        }
        for (const std::string& n : notes)
            note(out, n);
    }
    ImageFacts facts;
    if (!image_facts(dib, &facts)) {
        DIBFree(dib);
        return failure("cannot read the new image's header");
    }
    const bool large = static_cast<long long>(w) * h > kSampleLimit;
    bool opened = false;
    std::vector<PixelSample> samples = large ? std::vector<PixelSample>{} : sample_pixels(dib, &opened);
    DIBFree(dib);
    FILE* report = out == "-" ? stderr : stdout;
    if (json) {
        std::string s = "{\"header\":" + header_json(facts.completed, false) + "," + facts_json(facts) +
                        ",\"pixels\":" + (opened ? samples_json(samples) : "null") + ",\"file\":" +
                        (out.empty() ? "null" : json_string(out)) + "}";
        std::fprintf(report, "%s\n", s.c_str());
        return kExitOk;
    }
    if (report == stderr)
        return kExitOk;  // the image is on standard output; nothing else goes there
    print_header_text("header", facts.completed, false);
    print_facts_text(facts);
    if (large)
        std::printf("pixels            not listed for images above %lld pixels\n", kSampleLimit);
    else
        print_samples_text(samples, opened);
    if (!out.empty())
        std::printf("written to        %s\n", out.c_str());
    return kExitOk;
}

}  // namespace kelm_cli
