#pragma once
// A cursor image as the screen recorder keeps it: the identifier that frames name it by,
// the 44-byte description of the image and the pixel bytes.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "Foundation/ZVGeometry.h"

#pragma pack(push, 4)
struct ZVCursorInfo {
    int32_t size;              // bytes of pixel data
    int32_t bytesPerRow;       // stride of the pixel data
    ZVRect bounds;             // size.width × size.height is the image size in pixels
    ZVPoint hotSpot;           // the pointer's point, from the image's top-left corner
    int32_t depth;             // bits per pixel
    int32_t components;        // samples per pixel
    int32_t bitsPerComponent;  // bits per sample
};
#pragma pack(pop)

static_assert(sizeof(ZVCursorInfo) == 44);
static_assert(offsetof(ZVCursorInfo, size) == 0);
static_assert(offsetof(ZVCursorInfo, bytesPerRow) == 4);
static_assert(offsetof(ZVCursorInfo, bounds) == 8);
static_assert(offsetof(ZVCursorInfo, hotSpot) == 24);
static_assert(offsetof(ZVCursorInfo, depth) == 32);
static_assert(offsetof(ZVCursorInfo, components) == 36);
static_assert(offsetof(ZVCursorInfo, bitsPerComponent) == 40);

// One entry of a cursor list ({"Id", "Info", "Data"} in the recording's cursor file). The
// pixel bytes are shared and never change once made: frames cache a prepared copy keyed
// on this pointer, and keep it alive so a new cursor can never reuse its address.
struct ZVCursorEntry {
    int32_t id = 0;
    ZVCursorInfo info{};  // as recorded, possibly in the other byte order
    std::shared_ptr<const std::vector<uint8_t>> data;
};
