#include "browser/DpiScale.h"
#include <climits>
#include <cstdint>

namespace {
int Sane(int dpi) {
    return dpi > 0 ? dpi : kDefaultDpi;
}
} // namespace

int MulDivRounded(int value, int numerator, int denominator) {
    if (denominator == 0)
        return -1;
    const int64_t product = static_cast<int64_t>(value) * numerator;
    const int64_t magnitude = (product < 0 ? -product : product);
    const int64_t divisor = denominator < 0 ? -static_cast<int64_t>(denominator) : denominator;
    int64_t result = (magnitude + divisor / 2) / divisor;
    if ((product < 0) != (denominator < 0))
        result = -result;
    return result > INT_MAX || result < INT_MIN ? -1 : static_cast<int>(result);
}

int ToPixels(int units, int dpi) {
    return MulDivRounded(units, Sane(dpi), kDefaultDpi);
}

int ToUnits(int pixels, int dpi) {
    return MulDivRounded(pixels, kDefaultDpi, Sane(dpi));
}

int Rescale(int pixels, int fromDpi, int toDpi) {
    return ToPixels(ToUnits(pixels, fromDpi), toDpi);
}
