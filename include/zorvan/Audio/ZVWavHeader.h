#pragma once
// The header the WAV writer puts in front of its samples. Three layouts, chosen by the
// format's flags: float (tag 3) with a fact chunk and samples at byte 58; signed integer
// (tag 1) and anything else (tag 0) with a 44-byte header and samples at byte 92 and 80.
// The integer layouts leave a zero gap after the header, which their sizes do not count.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "Audio/ZVSoundFormat.h"
#include "Audio/ZVWavRecords.h"

struct ZVWavLayout {
    uint16_t audioFormat;  // the tag: 3 float, 1 signed integer, 0 otherwise
    int32_t dataOffset;    // where the samples begin
    bool hasFact;          // the float layout alone carries a fact chunk
};

struct ZVWavHeaderRecords {
    ZVWavRiffHeader head{};
    ZVWavFormatChunk chFormat{};
    ZVWavFactChunk chFact{};
    ZVWavDataChunkHeader chData{};
};

// What a WAV file's header says about its sound, for tools that show a track.
struct ZVWavDescription {
    ZVSoundFormat format;      // flags: 0x2 for tag 3, 0x4 for tag 1, 0 otherwise
    uint16_t audioFormat = 0;  // the tag as stored
    uint32_t dataSize = 0;     // the data chunk's size field
    uint32_t frames = 0;       // dataSize / ((bits x channels) / 8), 0 without a frame size
    double duration = 0;       // frames / rate in seconds, 0 without a rate
    // False when the data size is 0 although bytes follow the header: a writer that did
    // not get to patch its sizes (the samples are there, the header does not count them).
    bool sizesPatched = true;
};

class ZVWavHeader {
  public:
    ZVWavHeader() = delete;

    static ZVWavLayout layoutFor(ZVSoundFormat format);

    // The records for `frames` frames of `format`, in the writer's 32-bit arithmetic
    // (sizes wrap as the file's fields do). Any thread.
    static ZVWavHeaderRecords records(ZVSoundFormat format, uint32_t frames);

    // The header bytes as the writer writes them: the RIFF header, Subchunk1Size + 8 bytes
    // of the format chunk, the fact chunk where the layout has one, the data chunk header.
    // 44 bytes, or 58 for the float layout. Any thread.
    static std::vector<uint8_t> bytes(const ZVWavHeaderRecords& records, ZVWavLayout layout);

    // Describes the WAV file at `path` from its chunks ("fmt " and the data chunk's size:
    // bytes 40 to 43 in the writer's integer layouts, 54 to 57 in its float layout, and
    // wherever another writer put them). nullopt with *error saying why for a file that
    // cannot be read or is no WAV file. Any thread.
    static std::optional<ZVWavDescription> describeFile(const std::string& path,
                                                        std::string* error = nullptr);
};
