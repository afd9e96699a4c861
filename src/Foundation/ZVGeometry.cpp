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

static std::string number(float v) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%g", static_cast<double>(v));
    return buf;
}

std::string ZVStringFromSize(ZVSize s) {
    return "{" + number(s.width) + ", " + number(s.height) + "}";
}

std::string ZVStringFromPoint(ZVPoint p) { return "{" + number(p.x) + ", " + number(p.y) + "}"; }

std::string ZVStringFromRect(const ZVRect& r) {
    return "{" + ZVStringFromPoint(r.origin) + ", " + ZVStringFromSize(r.size) + "}";
}
