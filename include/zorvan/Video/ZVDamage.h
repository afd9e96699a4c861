#pragma once
// Where a picture changed since the one read before it: rectangles of pixels. A reader of
// the screen fetches them before it reads the pixels, so a change lands in this list or in
// the next one; the rectangles may overlap and may cover pixels that did not change.
#include <cstdint>
#include <vector>

// Columns x .. x + width - 1 of rows y .. y + height - 1; whose row 0 is meant (the
// picture's top line, or a frame's row 0) is said where the rectangles are handed over.
struct ZVDamageRect {
    int32_t x = 0;
    int32_t y = 0;
    int32_t width = 0;
    int32_t height = 0;
};

using ZVDamage = std::vector<ZVDamageRect>;
