#include "Platform/X11/ZVX11Geometry.h"

namespace {

// A decimal number with an optional sign, at most 5 digits (X coordinates are 16-bit).
bool number(std::string_view& s, int32_t& out, bool allowSign) {
    bool negative = false;
    if (allowSign && !s.empty() && (s[0] == '-' || s[0] == '+')) {
        negative = s[0] == '-';
        s.remove_prefix(1);
    }
    int32_t v = 0;
    size_t digits = 0;
    while (digits < s.size() && s[digits] >= '0' && s[digits] <= '9') {
        if (digits == 5) return false;
        v = v * 10 + (s[digits] - '0');
        ++digits;
    }
    if (digits == 0 || v > 32767) return false;
    s.remove_prefix(digits);
    out = negative ? -v : v;
    return true;
}

bool literal(std::string_view& s, char c) {
    if (s.empty() || s[0] != c) return false;
    s.remove_prefix(1);
    return true;
}

}  // namespace

std::optional<ZVX11Geometry> ZVParseX11Geometry(std::string_view s) {
    ZVX11Geometry g;
    if (!number(s, g.width, false) || !literal(s, 'x') || !number(s, g.height, false) ||
        !literal(s, '+') || !number(s, g.x, true) || !literal(s, '+') || !number(s, g.y, true) ||
        !s.empty())
        return std::nullopt;
    if (g.width < 1 || g.height < 1) return std::nullopt;
    return g;
}
