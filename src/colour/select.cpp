// Colour selection by median cut (Heckbert's method, as libjpeg's jquant2.c
// also does it) over a 64 x 64 x 64 histogram of the image. Boxes are split
// at the middle of their longest weighted axis (blue 4, green 12, red 8: the
// eye's sensitivity to each primary, roughly); the first half of the splits
// goes by occupied cells so that sparse colours get boxes, the second half by
// extent. A summed-volume table of occupied cells answers "how many occupied
// cells in this box" in constant time, so shrinking and sizing a box never
// rescans the histogram.
#include <algorithm>
#include <vector>

#include "colour/colour.h"
#include "pixel/pixel.h"

namespace kelm {

namespace {

constexpr int kSide = 64;
constexpr int kCells = kSide * kSide * kSide;

inline int cell(int b, int g, int r)
{
    return (b << 12) | (g << 6) | r;
}

struct Box {
    int lo[3];  // blue, green, red
    int hi[3];
    int size;
    int occupied;
};

// Summed-volume table of occupied cells: S(b, g, r) counts the non-zero
// cells with coordinates below (b, g, r), over a 65^3 grid.
class Occupancy {
public:
    explicit Occupancy(const std::vector<uint32_t>& hist) : s_(65u * 65u * 65u, 0)
    {
        for (int b = 1; b <= kSide; ++b)
            for (int g = 1; g <= kSide; ++g)
                for (int r = 1; r <= kSide; ++r) {
                    const int v = hist[static_cast<size_t>(cell(b - 1, g - 1, r - 1))] != 0;
                    at(b, g, r) = v + at(b - 1, g, r) + at(b, g - 1, r) + at(b, g, r - 1) - at(b - 1, g - 1, r) -
                                  at(b - 1, g, r - 1) - at(b, g - 1, r - 1) + at(b - 1, g - 1, r - 1);
                }
    }
    // Occupied cells with lo <= coordinate <= hi on every axis.
    int count(const int lo[3], const int hi[3]) const
    {
        const int b0 = lo[0], g0 = lo[1], r0 = lo[2], b1 = hi[0] + 1, g1 = hi[1] + 1, r1 = hi[2] + 1;
        return get(b1, g1, r1) - get(b0, g1, r1) - get(b1, g0, r1) - get(b1, g1, r0) + get(b0, g0, r1) +
               get(b0, g1, r0) + get(b1, g0, r0) - get(b0, g0, r0);
    }

private:
    int& at(int b, int g, int r) { return s_[static_cast<size_t>((b * 65 + g) * 65 + r)]; }
    int get(int b, int g, int r) const { return s_[static_cast<size_t>((b * 65 + g) * 65 + r)]; }
    std::vector<int> s_;
};

constexpr int kWeight[3] = {4, 12, 8};

void measure(Box& box, const Occupancy& occ)
{
    box.size = 0;
    for (int a = 0; a < 3; ++a) {
        const int e = kWeight[a] * (box.hi[a] - box.lo[a]);
        box.size += e * e;
    }
    box.occupied = occ.count(box.lo, box.hi);
}

// Moves each bound of each axis (blue, green, red) inwards to the nearest
// plane that holds an occupied cell.
void shrink(Box& box, const Occupancy& occ)
{
    for (int a = 0; a < 3; ++a) {
        if (box.lo[a] < box.hi[a]) {
            int lo[3], hi[3];
            std::copy_n(box.lo, 3, lo);
            std::copy_n(box.hi, 3, hi);
            for (int v = box.lo[a]; v <= box.hi[a]; ++v) {
                lo[a] = hi[a] = v;
                if (occ.count(lo, hi)) {
                    box.lo[a] = v;
                    break;
                }
            }
        }
        if (box.lo[a] < box.hi[a]) {
            int lo[3], hi[3];
            std::copy_n(box.lo, 3, lo);
            std::copy_n(box.hi, 3, hi);
            for (int v = box.hi[a]; v >= box.lo[a]; --v) {
                lo[a] = hi[a] = v;
                if (occ.count(lo, hi)) {
                    box.hi[a] = v;
                    break;
                }
            }
        }
    }
    measure(box, occ);
}

// Counts the pixels of the image into the histogram, all stored rows; false
// when the image cannot be read.
bool fill_histogram(HGLOBAL hDib, std::vector<uint32_t>& hist)
{
    BITMAPINFOHEADER bi;
    if (!dib_info(hDib, &bi, sizeof bi))
        return false;
    TRDIB rd{};
    if (!trdib_open(hDib, &rd))
        return false;
    // The line is sized only once the accessor has accepted the image, whose
    // rows then lie in the block: a header alone (compressed data, no rows)
    // may claim any width. No line for an image without rows.
    std::vector<Rgbq16> line(rd.bmi.biHeight != 0 && rd.bmi.biWidth > 0 ? static_cast<size_t>(rd.bmi.biWidth) : 0);
    const int width = rd.bmi.biWidth;
    const int64_t rows = rd.bmi.biHeight < 0 ? -static_cast<int64_t>(rd.bmi.biHeight) : rd.bmi.biHeight;
    if (width > 0) {
        if (rd.Format == kFmt24 || rd.Format == kFmt32) {
            // The accessor's 8-bit sample v reads as v x 257, whose top six
            // bits are v >> 2: read the bytes straight.
            const uint32_t bpp = rd.BytesPerPixel;
            for (int64_t y = 0; y < rows; ++y) {
                const BYTE* p = rd.hpbits + static_cast<size_t>(y) * rd.WidthBytes;
                for (int x = 0; x < width; ++x, p += bpp)
                    ++hist[static_cast<size_t>(cell(p[0] >> 2, p[1] >> 2, p[2] >> 2))];
            }
        } else {
            for (int64_t y = 0; y < rows; ++y) {
                rd.fnGetLineRgbq16(&rd, 0, static_cast<int>(y), width, line.data());
                for (const Rgbq16& c : line)
                    ++hist[static_cast<size_t>(cell(c.blue >> 10, c.green >> 10, c.red >> 10))];
            }
        }
    }
    trdib_close(&rd);
    return true;
}

// Splits boxes until there are `colours` or none can be split; the count.
int cut_boxes(const std::vector<uint32_t>& hist, std::vector<Box>& boxes, int colours)
{
    const Occupancy occ(hist);

    boxes[0] = Box{{0, 0, 0}, {kSide - 1, kSide - 1, kSide - 1}, 0, 0};
    shrink(boxes[0], occ);
    int n = 1;
    while (n < colours) {
        const bool bySize = 2 * n > colours;
        int pick = -1, best = 0;
        for (int i = 0; i < n; ++i) {
            const Box& b = boxes[static_cast<size_t>(i)];
            const int value = bySize ? b.size : (b.size > 0 ? b.occupied : 0);
            if (value > best) {
                best = value;
                pick = i;
            }
        }
        if (pick < 0)
            break;
        Box& old = boxes[static_cast<size_t>(pick)];
        Box& fresh = boxes[static_cast<size_t>(n)];
        fresh = old;
        const int eb = 4 * (old.hi[0] - old.lo[0]), eg = 12 * (old.hi[1] - old.lo[1]), er = 8 * (old.hi[2] - old.lo[2]);
        int axis = 1;
        if (er > eg)
            axis = 2;
        if (eb > std::max(eg, er))
            axis = 0;
        const int mid = (old.lo[axis] + old.hi[axis]) / 2;
        old.hi[axis] = mid;
        fresh.lo[axis] = mid + 1;
        shrink(old, occ);
        shrink(fresh, occ);
        ++n;
    }
    return n;
}

}  // namespace

HGLOBAL select_colors(HGLOBAL hDib, int colours)
{
    if (!hDib || colours < 1 || colours > 256)
        return nullptr;
    // An image that cannot be read has an empty histogram: one box, black.
    // Such images skip the histogram's 2 MB of work altogether.
    std::vector<Box> boxes(static_cast<size_t>(colours), Box{});
    std::vector<uint32_t> hist;
    int n = 1;
    BITMAPINFOHEADER bi;
    if (dib_info(hDib, &bi, sizeof bi) && bi.biWidth > 0 && bi.biHeight != 0) {
        hist.assign(kCells, 0);
        if (fill_histogram(hDib, hist))
            n = cut_boxes(hist, boxes, colours);
        else
            hist.clear();
    }

    HGLOBAL result = create_dib(1, 1, 8, 0);
    if (!result)
        return nullptr;
    BYTE* p = static_cast<BYTE*>(GlobalLock(result));
    if (!p) {
        GlobalFree(result);
        return nullptr;
    }
    RGBQUAD* table = reinterpret_cast<RGBQUAD*>(p + kInfoHeaderSize);
    std::memset(table, 0, 256 * sizeof(RGBQUAD));
    for (int i = 0; i < n; ++i) {
        const Box& box = boxes[static_cast<size_t>(i)];
        // Population-weighted mean of the cell centres 4c + 2, rounded half
        // up; 64-bit, since a box may hold every pixel of a large image.
        uint64_t total = 0, sum[3] = {0, 0, 0};
        for (int b = box.lo[0]; !hist.empty() && b <= box.hi[0]; ++b)
            for (int g = box.lo[1]; g <= box.hi[1]; ++g) {
                const uint32_t* row = &hist[static_cast<size_t>(cell(b, g, 0))];
                for (int r = box.lo[2]; r <= box.hi[2]; ++r) {
                    const uint64_t c = row[r];
                    if (!c)
                        continue;
                    total += c;
                    sum[0] += c * static_cast<uint64_t>(4 * b + 2);
                    sum[1] += c * static_cast<uint64_t>(4 * g + 2);
                    sum[2] += c * static_cast<uint64_t>(4 * r + 2);
                }
            }
        // An empty histogram (nothing readable) gives black.
        BYTE ch[3] = {0, 0, 0};
        if (total)
            for (int a = 0; a < 3; ++a)
                ch[a] = static_cast<BYTE>((sum[a] + total / 2) / total);
        table[i] = RGBQUAD{ch[0], ch[1], ch[2], 0};
    }
    st32(p, bih::ClrUsed, static_cast<uint32_t>(colours));
    st32(p, bih::ClrImportant, static_cast<uint32_t>(colours));
    GlobalUnlock(result);
    return result;
}

}  // namespace kelm
