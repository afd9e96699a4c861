#pragma once
#include "ZVPrivate.h"  // library-internal

// Pictures of one window.
#include <cstdint>
#include <optional>

#include "Video/ZVDisplayServer.h"

class ZVX11Connection;

// The client window `window`, or with `withFrame` the top-level window that holds it (the
// window manager's frame, shadow included where it draws one), clipped to the root;
// nullopt for an unknown or unmapped window. Rows top-down, B, G, R, 0xFF. Owning thread
// of `c`.
std::optional<ZVRawImage> ZVX11GetWindowImage(ZVX11Connection& c, uint32_t window, bool withFrame);
