#include "Video/ZVCursorGrab.h"

#include <cstring>

#include "Video/ZVDisplayServer.h"

ZVCursorInfo ORVGetCurrentCursorDataSize(ZVDisplayServer& server) {
    ZVCursorInfo info{};
    if (auto img = server.currentCursor()) info.size = static_cast<int32_t>(img->pixels.size());
    return info;
}

int32_t ORVGetCurrentCursor(ZVDisplayServer& server, ZVCursorInfo* info, void* buffer) {
    if (!info) return kORVCursorFailure;
    auto img = server.currentCursor();
    if (!img || img->pixels.empty()) return kORVCursorFailure;
    if (!buffer || info->size < 0 || img->pixels.size() > static_cast<size_t>(info->size))
        return kORVCursorRangeCheck;
    std::memcpy(buffer, img->pixels.data(), img->pixels.size());
    info->size = static_cast<int32_t>(img->pixels.size());
    info->bytesPerRow = img->width * 4;
    info->bounds =
        ZVMakeRect(0, 0, static_cast<float>(img->width), static_cast<float>(img->height));
    info->hotSpot = ZVPoint{static_cast<float>(img->hotX), static_cast<float>(img->hotY)};
    info->depth = 32;
    info->components = 4;
    info->bitsPerComponent = 8;
    return 0;
}
