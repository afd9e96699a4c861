#pragma once
#include "ZVPrivate.h"  // library-internal

// Draws the key strip of exported movies: the picture-wide band in which the video
// compressor shows the keys being pressed. Text drawing is a platform facility; its
// implementation comes in the platform services, and the compressor only asks for strips.
#include <cstdint>
#include <memory>
#include <string>

#include "Video/ZVImage.h"

class ZVKeyStripRenderer {
  public:
    static constexpr int32_t kHeight = 40;
    // Wider strips are refused: no picture the compressor exports is that wide.
    static constexpr int32_t kMaxWidth = 16384;

    virtual ~ZVKeyStripRenderer() = default;

    // A new RGBA image `width` × kHeight, rows top first: black at half alpha; `keys` in
    // white 20-pixel Sans with a blurred black shadow, centred between 100 pixels of margin
    // on either side and cut at its head when too long; when `modifiers` is not empty, a
    // white rounded box 90 × 30 at the left holding that text. nullptr for a width outside
    // 1...kMaxWidth or when drawing fails. Any thread.
    virtual std::shared_ptr<ZVImage> drawStrip(int32_t width, const std::string& keys,
                                               const std::string& modifiers) = 0;
};
