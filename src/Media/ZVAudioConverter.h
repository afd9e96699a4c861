#pragma once
#include "ZVPrivate.h"  // library-internal

// An audio converter: PCM in one format to PCM or compressed sound in another, in the pull
// model: a fill asks for up to N output packets and pulls its input through a callback,
// which may answer that nothing is ready now. A fill then returns what it could make, and
// the input it already took stays inside the converter for the next fill.
//
// One thread at a time; the input callback runs inside fillComplexBuffer.
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "Media/ZVAudioBuffers.h"

// Input callback answers besides 0.
inline constexpr long kZVAudioConverterNoDataNow = -1;
// No more input will ever come: the converter encodes what it still holds.
inline constexpr long kZVAudioConverterEndOfStream = -2;

// Asked for up to `ioFrames` frames: points `data` at them, sets `ioFrames` to the count
// given (they stay valid until the next call) and answers 0, or answers one of the codes
// above.
using ZVAudioConverterInputProc = std::function<long(uint32_t& ioFrames, const uint8_t*& data)>;

class ZVMediaToolkit;

class ZVAudioConverter {
  public:
    // A converter through `toolkit` (the services' media toolkit); nullptr with `*error`
    // set when there is no toolkit or the two formats cannot be converted. Any thread.
    static std::shared_ptr<ZVAudioConverter> create(ZVMediaToolkit* toolkit,
                                                    const ZVAudioStreamDescription& source,
                                                    const ZVAudioStreamDescription& destination,
                                                    long* error = nullptr);
    virtual ~ZVAudioConverter() = default;

    // The three settings; each answers 0 or an error. Before the first fill.
    virtual long setSampleRateConverterQuality(uint32_t quality) = 0;  // 0 ... 127
    virtual long setCodecSettings(int64_t bitRate,
                                  const std::map<std::string, std::string>& options) = 0;
    virtual long setCompressionMagicCookie(const std::vector<uint8_t>& cookie) = 0;

    // The largest size of one output packet in bytes.
    virtual uint32_t maximumOutputPacketSize() = 0;
    // The configuration bytes a decoder needs (empty for PCM).
    virtual std::vector<uint8_t> compressionMagicCookie() = 0;
    // Leading output frames that only prime the decoder.
    virtual uint32_t primingFrames() = 0;

    // Fills `output` (its mDataByteSize is the room, and becomes the bytes made) with up to
    // `ioPackets` packets, and `descriptions` (when given, room for `ioPackets`) with one
    // description each; `ioPackets` becomes the count made. Answers 0 or an error.
    virtual long fillComplexBuffer(const ZVAudioConverterInputProc& input, uint32_t& ioPackets,
                                   ZVAudioBuffer& output,
                                   ZVAudioStreamPacketDescription* descriptions) = 0;
};
