#pragma once
#include "ZVPrivate.h"  // library-internal

// The audio converter over libswresample and a libavcodec sound encoder (AAC, ALAC), or
// libswresample alone for linear PCM output. Input is resampled into a FIFO in the
// encoder's format as it is pulled; the encoder takes whole frames from the FIFO, and
// only the end of the input lets it encode a short last frame and drain its delay.
#include <map>
#include <memory>
#include <string>

#include "Media/ZVAudioConverter.h"

extern "C" {
#include <libavutil/samplefmt.h>
}

struct AVAudioFifo;
struct AVCodecContext;
struct AVFrame;
struct AVPacket;
struct SwrContext;

class ZVFFmpegAudioConverter : public ZVAudioConverter {
  public:
    static std::shared_ptr<ZVAudioConverter> create(const ZVAudioStreamDescription& source,
                                                    const ZVAudioStreamDescription& destination,
                                                    long* error);
    ~ZVFFmpegAudioConverter() override;

    long setSampleRateConverterQuality(uint32_t quality) override;
    long setCodecSettings(int64_t bitRate,
                          const std::map<std::string, std::string>& options) override;
    long setCompressionMagicCookie(const std::vector<uint8_t>& cookie) override;
    uint32_t maximumOutputPacketSize() override;
    std::vector<uint8_t> compressionMagicCookie() override;
    uint32_t primingFrames() override;
    long fillComplexBuffer(const ZVAudioConverterInputProc& input, uint32_t& ioPackets,
                           ZVAudioBuffer& output,
                           ZVAudioStreamPacketDescription* descriptions) override;

    // The PCM sample format of a linear-PCM description; AV_SAMPLE_FMT_NONE when none fits.
    static AVSampleFormat sampleFormatFor(const ZVAudioStreamDescription& d);

  private:
    ZVFFmpegAudioConverter() = default;
    // Opens the encoder and the resampler with the settings given so far.
    long open();
    // Pulls input once and resamples it into the FIFO; false when nothing came.
    bool pull(const ZVAudioConverterInputProc& input, uint32_t frames);
    long fillPCM(const ZVAudioConverterInputProc& input, uint32_t& ioPackets,
                 ZVAudioBuffer& output);

    ZVAudioStreamDescription _source;
    ZVAudioStreamDescription _destination;
    AVSampleFormat _sourceFormat = AV_SAMPLE_FMT_NONE;
    AVSampleFormat _fifoFormat = AV_SAMPLE_FMT_NONE;
    int _channels = 0;
    int _sourceRate = 0;
    int _rate = 0;
    uint32_t _quality = 64;
    int64_t _bitRate = 0;
    std::map<std::string, std::string> _options;
    const char* _encoderName = nullptr;  // nullptr for linear PCM

    bool _opened = false;
    long _openStatus = 0;
    bool _inputEnded = false;
    bool _encoderFlushed = false;
    bool _havePacket = false;  // _packet holds one that did not fit the last fill
    int64_t _nextPts = 0;
    SwrContext* _swr = nullptr;
    AVCodecContext* _encoder = nullptr;
    AVAudioFifo* _fifo = nullptr;
    AVFrame* _frame = nullptr;
    AVPacket* _packet = nullptr;
};
