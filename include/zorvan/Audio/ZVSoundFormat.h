#pragma once
// How uncompressed sound is laid out: passed and returned by value between the audio
// stages. A frame is numberOfChannels interleaved samples of bitsPerChannel / 8 whole
// bytes each.
#include <cstdint>

// Bits of ZVSoundFormat::flags. None set means unsigned little-endian integers, which is
// what 8-bit sound carries.
inline constexpr uint32_t kZVSoundFormatBigEndian = 0x1;
inline constexpr uint32_t kZVSoundFormatFloat = 0x2;
inline constexpr uint32_t kZVSoundFormatSignedInteger = 0x4;
inline constexpr uint32_t kZVSoundFormatAlignedHigh = 0x8;

struct ZVSoundFormat {
    int32_t numberOfChannels = 0;
    int32_t bitsPerChannel = 0;
    float sampleRate = 0;
    uint32_t flags = 0;

    // Bytes of one frame, (channels x bits) / 8, or 0 when that is not a positive number
    // that fits 32 bits. Any thread.
    int32_t bytesPerFrame() const {
        int64_t bytes = int64_t{numberOfChannels} * bitsPerChannel / 8;
        return bytes > 0 && bytes <= INT32_MAX ? static_cast<int32_t>(bytes) : 0;
    }
    bool operator==(const ZVSoundFormat&) const = default;
};
static_assert(sizeof(ZVSoundFormat) == 16);
