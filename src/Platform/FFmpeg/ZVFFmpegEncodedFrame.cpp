#include "Platform/FFmpeg/ZVFFmpegEncodedFrame.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

ZVFFmpegStreamParameters::~ZVFFmpegStreamParameters() {
    avcodec_parameters_free(&_parameters);
}

ZVFFmpegEncodedFrame::ZVFFmpegEncodedFrame(AVPacket* packet, int64_t decodeDuration,
                                           int32_t timeScale, uint32_t codecType, int32_t width,
                                           int32_t height,
                                           std::shared_ptr<const ZVFFmpegStreamParameters> stream)
    : _packet(packet),
      _decodeDuration(decodeDuration),
      _timeScale(timeScale),
      _codecType(codecType),
      _width(width),
      _height(height),
      _stream(std::move(stream)) {}

ZVFFmpegEncodedFrame::~ZVFFmpegEncodedFrame() {
    av_packet_free(&_packet);
}

const uint8_t* ZVFFmpegEncodedFrame::data() const {
    return _packet->data;
}
int64_t ZVFFmpegEncodedFrame::dataSize() const {
    return _packet->size;
}
int64_t ZVFFmpegEncodedFrame::decodeTimeStamp() const {
    return _packet->dts;
}
int64_t ZVFFmpegEncodedFrame::displayTimeStamp() const {
    return _packet->pts;
}
int64_t ZVFFmpegEncodedFrame::displayDuration() const {
    return _packet->duration;
}
bool ZVFFmpegEncodedFrame::isKeyFrame() const {
    return (_packet->flags & AV_PKT_FLAG_KEY) != 0;
}
