#pragma once
// Plain geometry records of 32-bit floats, as the desktop coordinate space uses them
// (origin at the bottom-left of the primary monitor, y up).
#include <string>

struct ZVSize {
    float width = 0;
    float height = 0;
    bool operator==(const ZVSize&) const = default;
};

struct ZVPoint {
    float x = 0;
    float y = 0;
    bool operator==(const ZVPoint&) const = default;
};

struct ZVRect {
    ZVPoint origin;
    ZVSize size;
    bool operator==(const ZVRect&) const = default;

    float minX() const { return origin.x; }
    float minY() const { return origin.y; }
    float maxX() const { return origin.x + size.width; }
    float maxY() const { return origin.y + size.height; }
    bool isEmpty() const { return !(size.width > 0) || !(size.height > 0); }
};

inline ZVRect ZVMakeRect(float x, float y, float w, float h) {
    return ZVRect{{x, y}, {w, h}};
}

// Intersection of two rectangles; an empty rectangle at the origin when they do not meet.
ZVRect ZVIntersectionRect(const ZVRect& a, const ZVRect& b);

// "{640, 480}", "{1, 2}", "{{0, 0}, {640, 480}}": the way sizes, points and rectangles
// appear in log lines and messages. Whole numbers print without a fraction.
std::string ZVStringFromSize(ZVSize s);
std::string ZVStringFromPoint(ZVPoint p);
std::string ZVStringFromRect(const ZVRect& r);
