#pragma once
#include "ZVPrivate.h"  // library-internal

// An encoded frame holding a libavcodec packet, and the stream parameters (codec,
// size, configuration record) that a muxer needs for the track the frame belongs to.
#include <memory>

#include "Media/ZVEncodedFrame.h"

struct AVPacket;
struct AVCodecParameters;

// The parameters of one encoded stream, shared by its frames. Immutable once made.
class ZVFFmpegStreamParameters {
  public:
    // Takes ownership of `parameters`.
    explicit ZVFFmpegStreamParameters(AVCodecParameters* parameters) : _parameters(parameters) {}
    ~ZVFFmpegStreamParameters();
    ZVFFmpegStreamParameters(const ZVFFmpegStreamParameters&) = delete;
    ZVFFmpegStreamParameters& operator=(const ZVFFmpegStreamParameters&) = delete;
    const AVCodecParameters* parameters() const { return _parameters; }

  private:
    AVCodecParameters* _parameters;
};

class ZVFFmpegEncodedFrame : public ZVEncodedFrame {
  public:
    // Takes ownership of `packet` (times in 1/timeScale).
    ZVFFmpegEncodedFrame(AVPacket* packet, int64_t decodeDuration, int32_t timeScale,
                         uint32_t codecType, int32_t width, int32_t height,
                         std::shared_ptr<const ZVFFmpegStreamParameters> stream);
    ~ZVFFmpegEncodedFrame() override;
    ZVFFmpegEncodedFrame(const ZVFFmpegEncodedFrame&) = delete;
    ZVFFmpegEncodedFrame& operator=(const ZVFFmpegEncodedFrame&) = delete;

    const uint8_t* data() const override;
    int64_t dataSize() const override;
    int64_t decodeTimeStamp() const override;
    int64_t displayTimeStamp() const override;
    int64_t decodeDuration() const override { return _decodeDuration; }
    int64_t displayDuration() const override;
    int32_t timeScale() const override { return _timeScale; }
    bool isKeyFrame() const override;
    uint32_t codecType() const override { return _codecType; }
    int32_t width() const override { return _width; }
    int32_t height() const override { return _height; }

    const AVPacket* packet() const { return _packet; }
    const std::shared_ptr<const ZVFFmpegStreamParameters>& stream() const { return _stream; }

  private:
    AVPacket* _packet;
    int64_t _decodeDuration;
    int32_t _timeScale;
    uint32_t _codecType;
    int32_t _width;
    int32_t _height;
    std::shared_ptr<const ZVFFmpegStreamParameters> _stream;
};
