#include "Media/ZVMediaTypes.h"

#include <cmath>
#include <limits>

std::string ZVStringFromFourCC(uint32_t code) {
    std::string s(4, '?');
    for (int i = 0; i < 4; i++) {
        char c = static_cast<char>((code >> (24 - 8 * i)) & 0xFF);
        if (c >= 0x20 && c < 0x7F) s[i] = c;
    }
    return s;
}

int32_t ZVDoubleToFixed(double d) {
    double f = std::round(d * 65536.0);
    if (!(f > std::numeric_limits<int32_t>::min())) return std::numeric_limits<int32_t>::min();
    if (f >= std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
    return static_cast<int32_t>(f);
}
