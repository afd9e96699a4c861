#pragma once
// The sound buffer records that the audio converter writes into and the movie writer reads:
// a list of buffers and one description per variable-size packet.
#include <cstdint>
#include <string>
#include <vector>

#include "Media/ZVMediaTypes.h"

struct ZVAudioBuffer {
    uint32_t mNumberChannels = 0;
    uint32_t mDataByteSize = 0;
    void* mData = nullptr;
};

struct ZVAudioStreamPacketDescription {
    int64_t mStartOffset = 0;
    uint32_t mVariableFramesInPacket = 0;
    uint32_t mDataByteSize = 0;
};
static_assert(sizeof(ZVAudioStreamPacketDescription) == 16);

// What a sound track is made with: the stream's format, its channel layout, the codec's
// configuration bytes, and how many leading frames the decoder drops (the encoder's
// priming), so that the track still begins at its first recorded sample.
struct ZVSoundDescription {
    ZVAudioStreamDescription format;
    uint32_t channelLayoutTag = 0;
    std::vector<uint8_t> magicCookie;
    uint32_t primingFrames = 0;
};
