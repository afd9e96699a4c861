#include "Foundation/ZVGeometry.h"

#include <algorithm>
#include <cstdio>

ZVRect ZVIntersectionRect(const ZVRect& a, const ZVRect& b) {
    float x0 = std::max(a.minX(), b.minX());
    float y0 = std::max(a.minY(), b.minY());
    float x1 = std::min(a.maxX(), b.maxX());
    float y1 = std::min(a.maxY(), b.maxY());
    if (!(x1 > x0) || !(y1 > y0)) return ZVRect{};
    return ZVMakeRect(x0, y0, x1 - x0, y1 - y0);
}

// Formatted in one call: GCC 12 at -O3 warns falsely (-Wrestrict) on chains of string
// concatenation.
std::string ZVStringFromSize(ZVSize s) {
    char buf[96];
    std::snprintf(buf, sizeof buf, "{%g, %g}", static_cast<double>(s.width),
                  static_cast<double>(s.height));
    return buf;
}

std::string ZVStringFromPoint(ZVPoint p) {
    char buf[96];
    std::snprintf(buf, sizeof buf, "{%g, %g}", static_cast<double>(p.x), static_cast<double>(p.y));
    return buf;
}

std::string ZVStringFromRect(const ZVRect& r) {
    char buf[192];
    std::snprintf(buf, sizeof buf, "{{%g, %g}, {%g, %g}}", static_cast<double>(r.origin.x),
                  static_cast<double>(r.origin.y), static_cast<double>(r.size.width),
                  static_cast<double>(r.size.height));
    return buf;
}
