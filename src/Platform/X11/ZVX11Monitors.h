#pragma once
#include "ZVPrivate.h"  // library-internal

// The RandR 1.5 monitor list of one connection, with each monitor's state, product name
// and refresh rate, primary first.
#include <xcb/xcb.h>

#include <vector>

#include "Video/ZVDisplayServer.h"

class ZVX11Connection;

struct ZVX11Monitor {
    ZVDisplayDescription description;  // frame in desktop space
    // The monitor in root-window space (top-left origin, y down).
    int32_t rootX = 0;
    int32_t rootY = 0;
    int32_t width = 0;
    int32_t height = 0;
};

// Asks the server for its monitors. Without RandR 1.5 the whole root window is one
// monitor. Empty only when the connection failed. Owning thread of `c`.
std::vector<ZVX11Monitor> ZVX11QueryMonitors(ZVX11Connection& c);

// Desktop space (bottom-left of the primary monitor, y up) from root space, for a
// rectangle and for a point; `primary` is the primary monitor in root space. Any thread.
ZVRect ZVX11DesktopRectFromRoot(const ZVX11Monitor& primary, int32_t x, int32_t y, int32_t w,
                                int32_t h);
ZVPoint ZVX11DesktopPointFromRoot(const ZVX11Monitor& primary, int32_t x, int32_t y);
