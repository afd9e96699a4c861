#pragma once
#include "ZVPrivate.h"  // library-internal

// The image of the mouse cursor shown now, in the form the cursor drawing of a movie frame
// takes: 32-bit pixels of four 8-bit samples, bytes blue, green, red, alpha (straight
// alpha), rows top-down.
#include <cstdint>

#include "Video/ZVCursorEntry.h"

// Status codes of ORVGetCurrentCursor besides 0.
inline constexpr int32_t kORVCursorFailure = 1000;     // no cursor image to be had
inline constexpr int32_t kORVCursorRangeCheck = 1007;  // the image outgrew `info->size`

class ZVDisplayServer;

// A record whose `size` is the byte size of the current cursor image of `server` (0 when
// none can be had); its other fields are left zero. Any thread.
ZVCursorInfo ORVGetCurrentCursorDataSize(ZVDisplayServer& server);

// Fills `buffer` (at least `info->size` bytes) with the current cursor's pixels and the
// record's size, bytesPerRow, bounds, hotSpot, depth, components and bitsPerComponent.
// 0 on success; kORVCursorFailure without an image; kORVCursorRangeCheck, with nothing
// written, when the cursor changed since the size was asked and no longer fits. Any thread.
int32_t ORVGetCurrentCursor(ZVDisplayServer& server, ZVCursorInfo* info, void* buffer);
