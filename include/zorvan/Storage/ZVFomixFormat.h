#pragma once
// The capture file's fixed parts: the 28-byte header, the signatures a reader accepts,
// the chunk tags, and the byte-order helpers. A capture file is the header followed by
// frame records back to back: a 44-byte info record, a chunk list when the record's
// frameFlags has 0x20, then the payload (the block data, zlib-compressed when the record's
// frameFlags has 0x80). Every number is stored in the byte order of the machine that
// wrote the file; the signature tells which.
#include <cstddef>
#include <cstdint>

#include "Foundation/ZVGeometry.h"

#pragma pack(push, 4)
// The file header, byte for byte as it is stored (passed by value).
struct ZVFomixFileInfo {
    int32_t signature = 0;
    double duration = 0;  // timestamp of the last frame the writer took, in seconds
    uint32_t frames = 0;  // frame records in the file
    ZVSize initialDimensions{0, 0};
    int32_t reserverd1 = 0;
};
#pragma pack(pop)
static_assert(sizeof(ZVFomixFileInfo) == 28);
static_assert(offsetof(ZVFomixFileInfo, duration) == 4);
static_assert(offsetof(ZVFomixFileInfo, frames) == 12);
static_assert(offsetof(ZVFomixFileInfo, initialDimensions) == 16);
static_assert(offsetof(ZVFomixFileInfo, reserverd1) == 24);

inline constexpr int32_t kZVFomixSignature = 0x2C1A7F5F;         // what the writer stores
inline constexpr int32_t kZVFomixEarlierSignature = 0x2C1A7F5E;  // relative offsets, delta times
inline constexpr int32_t kZVFomixSwappedSignature = 0x5F7F1A2C;  // other byte order
inline constexpr int32_t kZVFomixSwappedEarlierSignature = 0x5E7F1A2C;
inline constexpr size_t kZVFomixHeaderSize = sizeof(ZVFomixFileInfo);
inline constexpr size_t kZVFomixInfoSize = 44;
inline constexpr size_t kZVFomixChunkHeaderSize = 8;
// The largest picture buffer a reader makes room for (an 8K screen fits four times), so a
// recording is never larger than it.
inline constexpr size_t kZVFomixMaxCanvasBytes = size_t(512) << 20;

inline constexpr uint32_t kZVFomixKeyStrokesTag = 0x6B737472;   // 'kstr'
inline constexpr uint32_t kZVFomixKeyTextTag = 0x6B737473;      // 'ksts'
inline constexpr uint32_t kZVFomixCompressionTag = 0x636F6D69;  // 'comi'
inline constexpr uint32_t kZVFomixEndTag = 0x656E6478;          // 'endx'

// How a reader must take a file, decided by its signature.
struct ZVFomixLayout {
    bool swapped = false;  // numbers are in the other byte order
    bool earlier = false;  // offsets count unpadded rows, timestamps are deltas
};

// The layout a signature (as read) stands for; false for a refused file. Any thread.
inline bool ZVFomixLayoutForSignature(int32_t signature, ZVFomixLayout& layout) {
    switch (signature) {
        case kZVFomixSignature:
            layout = {false, false};
            return true;
        case kZVFomixEarlierSignature:
            layout = {false, true};
            return true;
        case kZVFomixSwappedSignature:
            layout = {true, false};
            return true;
        case kZVFomixSwappedEarlierSignature:
            layout = {true, true};
            return true;
        default:
            return false;
    }
}

// The value with its bytes in the other order. By value, because the fields of the packed
// records may lie off their natural alignment. Any thread.
template <typename T>
inline T ZVFomixSwapped(T value) {
    static_assert(sizeof(T) == 2 || sizeof(T) == 4 || sizeof(T) == 8);
    unsigned char* p = reinterpret_cast<unsigned char*>(&value);
    for (size_t i = 0; i < sizeof(T) / 2; ++i) {
        unsigned char t = p[i];
        p[i] = p[sizeof(T) - 1 - i];
        p[sizeof(T) - 1 - i] = t;
    }
    return value;
}
#define ZV_FOMIX_SWAP(field) ((field) = ZVFomixSwapped(field))

// Puts a header read from a file of the other byte order into host order (signature and
// reserverd1 stay as read). Any thread.
inline void ZVFomixSwapHeader(ZVFomixFileInfo& info) {
    ZV_FOMIX_SWAP(info.duration);
    ZV_FOMIX_SWAP(info.frames);
    ZV_FOMIX_SWAP(info.initialDimensions.width);
    ZV_FOMIX_SWAP(info.initialDimensions.height);
}
