#pragma once
#include "ZVPrivate.h"  // library-internal

// X11 geometry strings ("640x480+100+50"), the way Linux users give a screen rectangle.
#include <cstdint>
#include <optional>
#include <string_view>

struct ZVX11Geometry {
    int32_t width = 0;
    int32_t height = 0;
    int32_t x = 0;  // from the root window's left edge
    int32_t y = 0;  // from its top edge, y down
};

// Parses "WxH+X+Y" (X and Y may be negative: "+-10"); the sides must be 1..32767 and the
// offsets within ±32767. nullopt for anything else. Any thread.
std::optional<ZVX11Geometry> ZVParseX11Geometry(std::string_view text);
