#pragma once
// The WAV header records, declared exactly as they lie in a file: little-endian fields,
// no padding. Chunk identifiers are four ASCII characters in file order, so "RIFF" read
// as a little-endian u32 is 0x46464952.
#include <cstddef>
#include <cstdint>

inline constexpr uint32_t ZVWavChunkID(const char (&id)[5]) {
    return uint32_t(uint8_t(id[0])) | uint32_t(uint8_t(id[1])) << 8 |
           uint32_t(uint8_t(id[2])) << 16 | uint32_t(uint8_t(id[3])) << 24;
}
inline constexpr uint32_t kZVWavRIFF = ZVWavChunkID("RIFF");
inline constexpr uint32_t kZVWavWAVE = ZVWavChunkID("WAVE");
inline constexpr uint32_t kZVWavFmt = ZVWavChunkID("fmt ");
inline constexpr uint32_t kZVWavFact = ZVWavChunkID("fact");
inline constexpr uint32_t kZVWavData = ZVWavChunkID("data");
static_assert(kZVWavRIFF == 0x46464952);

#pragma pack(push, 1)
struct ZVWavRiffHeader {
    uint32_t ChunkID;
    uint32_t ChunkSize;
    uint32_t Format;
};

struct ZVWavFormatChunk {
    uint32_t Subchunk1ID;
    uint32_t Subchunk1Size;
    uint16_t AudioFormat;
    uint16_t NumChannels;
    uint32_t SampleRate;
    uint32_t ByteRate;
    uint16_t BlockAlign;
    uint16_t BitsPerSample;
    uint16_t cbSize;
    uint16_t wValidBitsPerSample;
    uint32_t dwChannelMask;
    uint8_t SubFormat[16];
};

struct ZVWavDataChunkHeader {
    uint32_t Subchunk2ID;
    uint32_t Subchunk2Size;
};

struct ZVWavFactChunk {
    uint32_t ckID;
    uint32_t cksize;
    uint32_t dwSampleLength;
};

// What a reader takes as its header: always these 68 bytes, whatever the file holds.
struct ZVWavFileInfo {
    ZVWavRiffHeader head;
    ZVWavFormatChunk chFormat;
    ZVWavDataChunkHeader chData;
};
#pragma pack(pop)

static_assert(sizeof(ZVWavRiffHeader) == 12);
static_assert(sizeof(ZVWavFormatChunk) == 48);
static_assert(offsetof(ZVWavFormatChunk, AudioFormat) == 8);
static_assert(offsetof(ZVWavFormatChunk, SampleRate) == 12);
static_assert(offsetof(ZVWavFormatChunk, BlockAlign) == 20);
static_assert(offsetof(ZVWavFormatChunk, cbSize) == 24);
static_assert(offsetof(ZVWavFormatChunk, dwChannelMask) == 28);
static_assert(offsetof(ZVWavFormatChunk, SubFormat) == 32);
static_assert(sizeof(ZVWavDataChunkHeader) == 8);
static_assert(sizeof(ZVWavFactChunk) == 12);
static_assert(sizeof(ZVWavFileInfo) == 68);
static_assert(offsetof(ZVWavFileInfo, chData) == 60);

// The records are copied byte for byte to and from files: little-endian hosts only.
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__);
