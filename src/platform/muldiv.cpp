// MulDiv with Win32's rounding, used on every platform: the exact rounding of
// proportional mappings decides pixel positions, so it must not vary with the
// system library underneath.
#include "platform/platform.h"

#include <cstdint>
#include <limits>

namespace kelm {

int MulDiv(int number, int numerator, int denominator)
{
    if (denominator == 0)
        return -1;
    int64_t product = static_cast<int64_t>(number) * numerator;
    // Round halves away from zero: add half the divisor's magnitude to the
    // product's magnitude, then divide magnitudes and restore the sign.
    const bool negative = (product < 0) != (denominator < 0);
    uint64_t p = product < 0 ? 0 - static_cast<uint64_t>(product) : static_cast<uint64_t>(product);
    uint64_t d = denominator < 0 ? 0 - static_cast<uint64_t>(static_cast<int64_t>(denominator))
                                 : static_cast<uint64_t>(denominator);
    uint64_t q = (p + d / 2) / d;
    if (negative) {
        if (q > static_cast<uint64_t>(std::numeric_limits<int>::max()) + 1)
            return -1;
        return static_cast<int>(0 - static_cast<int64_t>(q));
    }
    if (q > static_cast<uint64_t>(std::numeric_limits<int>::max()))
        return -1;
    return static_cast<int>(q);
}

}  // namespace kelm
