#pragma once
#include "ZVPrivate.h"  // library-internal

// The key strip drawn with cairo and pango: DejaVu Sans at 20 pixels (the size a 20-point
// font has on the 72-units-per-inch canvas the strip's geometry is given in), the shadow
// blurred by a three-pass box filter.
#include "Export/ZVKeyStripRenderer.h"

class ZVCairoKeyStripRenderer : public ZVKeyStripRenderer {
  public:
    // Each call draws on surfaces of its own; pango's font map is per thread. Any thread.
    std::shared_ptr<ZVImage> drawStrip(int32_t width, const std::string& keys,
                                       const std::string& modifiers) override;
};
