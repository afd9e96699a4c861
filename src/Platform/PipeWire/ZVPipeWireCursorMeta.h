#pragma once
#include "ZVPrivate.h"  // library-internal

// Reads the cursor a compositor sends beside a frame (SPA_META_Cursor with its bitmap).
// The block comes from another process: nothing in it is trusted, and a reader never
// leaves its `size` bytes whatever its offsets and sizes say.
#include <cstddef>
#include <cstdint>
#include <optional>

#include "Video/ZVDisplayServer.h"

struct ZVPipeWireCursorMeta {
    bool valid = false;  // the block says something about the cursor (id != 0)
    int32_t x = 0;       // the pointer, in the stream's pixels from its top-left
    int32_t y = 0;
    // A new bitmap (serial unset; 0 x 0 when the cursor is hidden), or nullopt when the
    // bitmap is the one sent before.
    std::optional<ZVCursorImage> image;
};

// One block of `size` bytes. Any thread.
ZVPipeWireCursorMeta ZVReadPipeWireCursorMeta(const void* block, size_t size);
