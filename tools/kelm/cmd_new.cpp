// `kelm new`: makes an image in memory with CreateDIB, optionally fills it
// through the pixel API, and shows what the library made.
#include <cstdio>
#include <string>

#include "cli.h"

namespace kelm_cli {

int cmd_new(const Args& args)
{
    std::string_view geometry;
    bool json = false, twoPlane = false;
    std::optional<DWORD> fill;
    for (size_t i = 0; i < args.size(); ++i) {
        std::string_view a = args[i];
        if (a == "--json") {
            json = true;
        } else if (a == "--two-plane") {
            twoPlane = true;
        } else if (a == "--fill") {
            if (i + 1 >= args.size())
                return usage_error("new", "--fill needs a colour");
            fill = parse_colour(args[++i]);
            if (!fill)
                return usage_error("new", "not a colour: '" + std::string(args[i]) + "'");
        } else if (!a.empty() && a[0] == '-') {
            return usage_error("new", "unknown option '" + std::string(a) + "'");
        } else if (geometry.empty()) {
            geometry = a;
        } else {
            return usage_error("new", "unexpected argument '" + std::string(a) + "'");
        }
    }
    long w, h;
    unsigned bits;
    if (geometry.empty())
        return usage_error("new", "missing WIDTHxHEIGHTxBITS");
    if (!parse_geometry(geometry, &w, &h, &bits))
        return usage_error("new", "not a geometry: '" + std::string(geometry) + "' (expected e.g. 640x480x8)");
    if (w < INT32_MIN || w > INT32_MAX || h < INT32_MIN || h > INT32_MAX)
        return failure("cannot create a " + std::string(geometry) + " image: dimensions out of range");

    HGLOBAL dib = CreateDIB(static_cast<LONG>(w), static_cast<LONG>(h), bits, twoPlane ? KELM3_CREATE_TWOPLANE : 0);
    if (!dib)
        return failure("cannot create a " + std::string(geometry) + (twoPlane ? " two-plane" : "") +
                       " image: unsupported depth or size, or out of memory");
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
    ImageFacts facts;
    if (!image_facts(dib, &facts)) {
        DIBFree(dib);
        return failure("cannot read the new image's header");
    }
    bool opened = false;
    std::vector<PixelSample> samples = sample_pixels(dib, &opened);
    if (json) {
        std::printf("{\"header\":%s,%s,\"pixels\":%s}\n", header_json(facts.completed).c_str(), facts_json(facts).c_str(),
                    samples_json(samples).c_str());
    } else {
        print_header_text("header", facts.completed);
        print_facts_text(facts);
        print_samples_text(samples, opened);
    }
    DIBFree(dib);
    return kExitOk;
}

}  // namespace kelm_cli
