#include "Platform/FFmpeg/ZVFFmpegGIFSession.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>

#include "Foundation/ZVLog.h"
#include "Platform/FFmpeg/ZVFFmpegEncodedFrame.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
}

namespace {
constexpr int32_t kMaxSide = 16384;
constexpr double kDefaultFrameRate = 15;
// Delays are whole hundredths of a second; players stretch shorter ones.
constexpr double kMostFrameRate = 50;
}  // namespace

std::shared_ptr<ZVCompressionSession> ZVFFmpegGIFSession::create(
    int32_t width, int32_t height, int32_t timeScale, const ZVCompressionSessionOptions& options,
    ZVCompressionOutputCallback output, long* error) {
    long dummy = 0;
    long& status = error ? *error : dummy;
    if (width <= 0 || height <= 0 || width > kMaxSide || height > kMaxSide || timeScale <= 0) {
        ZVLog("Cannot encode %dx%d pictures at time scale %d", width, height, timeScale);
        status = kZVMediaErrParam;
        return nullptr;
    }
    auto session =
        std::make_shared<ZVFFmpegGIFSession>(width, height, timeScale, options, std::move(output));
    status = session->open();
    return status == kZVMediaNoErr ? session : nullptr;
}

ZVFFmpegGIFSession::ZVFFmpegGIFSession(int32_t width, int32_t height, int32_t timeScale,
                                       const ZVCompressionSessionOptions& options,
                                       ZVCompressionOutputCallback output)
    : _width(width),
      _height(height),
      _timeScale(timeScale),
      _output(std::move(output)),
      _scaler(width, height, AV_PIX_FMT_BGRA, options.scalingMode() == kZVScalingMode_Letterbox, 0,
              0) {
    const double rate = options.expectedFrameRate() > 0
                            ? std::min(options.expectedFrameRate(), kMostFrameRate)
                            : kDefaultFrameRate;
    _minimumGap = std::max<int64_t>(1, std::llround(timeScale / rate));
}

ZVFFmpegGIFSession::~ZVFFmpegGIFSession() {
    completeFrames();
    av_frame_free(&_fitted);
    av_frame_free(&_waiting);
    avcodec_free_context(&_context);
}

uint32_t ZVFFmpegGIFSession::codecType() const {
    return kZVVideoCodecType_GIF;
}

long ZVFFmpegGIFSession::open() {
    const AVCodec* encoder = avcodec_find_encoder(AV_CODEC_ID_GIF);
    AVCodecContext* c = encoder ? avcodec_alloc_context3(encoder) : nullptr;
    if (!c) return kZVMediaErrUnsupported;
    c->width = _width;
    c->height = _height;
    c->pix_fmt = AV_PIX_FMT_PAL8;
    c->time_base = AVRational{1, _timeScale};
    AVCodecParameters* params = nullptr;
    if (avcodec_open2(c, encoder, nullptr) < 0 || !(params = avcodec_parameters_alloc()) ||
        avcodec_parameters_from_context(params, c) < 0) {
        ZVLog("avcodec_open2(gif) failed for %dx%d pictures", _width, _height);
        avcodec_parameters_free(&params);
        avcodec_free_context(&c);
        return kZVMediaErrEncoder;
    }
    _stream = std::make_shared<ZVFFmpegStreamParameters>(params);
    avcodec_free_context(&_context);
    _context = c;
    return kZVMediaNoErr;
}

long ZVFFmpegGIFSession::encodeFrame(const ZVSourcePixels& pixels, int64_t displayTimeStamp,
                                     int64_t displayDuration, uint32_t validTimeFlags,
                                     ZVSourceTrackingCallback tracking, ZVSourceReference source) {
    const int64_t pts = frameTime(_lastPts, _lastDuration, displayTimeStamp, validTimeFlags);
    if (pts < 0) return kZVMediaErrParam;
    // A tick of slack: time stamps made from seconds may come one tick short.
    const bool kept = !_waiting || pts - _waiting->pts >= _minimumGap - 1;
    _lastPts = pts;
    if ((validTimeFlags & kZVValidTimeFlag_DisplayDurationIsValid) && displayDuration > 0)
        _lastDuration = std::min(displayDuration, kMaxTimeStamp);
    long status = kZVMediaNoErr;
    if (kept) {
        _fitted = _scaler.convert(pixels, std::exchange(_fitted, nullptr));
        if (!_fitted) return kZVMediaErrParam;
    }
    // The pixels have been read: the source goes back now.
    const uint32_t flags = kZVSourceTrackingFlag_ReleasedPixelBuffer |
                           (kept ? 0 : kZVSourceTrackingFlag_FrameWasDropped);
    if (tracking) tracking(flags, std::move(source));
    if (!kept) return kZVMediaNoErr;

    if (_waiting) {
        _lastDuration = pts - _waiting->pts;
        status = encodeWaiting(_lastDuration);
    }
    if (!_palette) _palette.emplace(_fitted->data[0], _width, _height, _fitted->linesize[0]);
    AVFrame* f = av_frame_alloc();
    if (!f) return kZVMediaErrEncoder;
    f->format = AV_PIX_FMT_PAL8;
    f->width = _width;
    f->height = _height;
    if (av_frame_get_buffer(f, 0) < 0) {
        av_frame_free(&f);
        return kZVMediaErrEncoder;
    }
    _palette->map(_fitted->data[0], _width, _height, _fitted->linesize[0], f->data[0],
                  f->linesize[0]);
    std::memcpy(f->data[1], _palette->colors().data(), 256 * sizeof(uint32_t));
    f->pts = pts;
    _waiting = f;
    return status;
}

long ZVFFmpegGIFSession::encodeWaiting(int64_t duration) {
    AVFrame* frame = std::exchange(_waiting, nullptr);
    const int64_t pts = frame->pts;
    if (!_context && open() != kZVMediaNoErr) {
        av_frame_free(&frame);
        return kZVMediaErrEncoder;
    }
    AVPacket* packet = av_packet_alloc();
    int r = packet ? avcodec_send_frame(_context, frame) : AVERROR(ENOMEM);
    av_frame_free(&frame);
    if (r >= 0) r = avcodec_receive_packet(_context, packet);
    if (r < 0) {
        av_packet_free(&packet);
        ZVLog("The GIF encoder failed on a %dx%d picture", _width, _height);
        if (_output) _output(kZVMediaErrEncoder, nullptr);
        return kZVMediaErrEncoder;
    }
    packet->duration = duration;
    packet->pts = packet->dts = pts;
    auto encoded = std::make_shared<ZVFFmpegEncodedFrame>(
        packet, duration, _timeScale, kZVVideoCodecType_GIF, _width, _height, _stream);
    if (_output) _output(kZVMediaNoErr, std::move(encoded));
    return kZVMediaNoErr;
}

long ZVFFmpegGIFSession::completeFrames() {
    if (!_waiting) return kZVMediaNoErr;
    // The last frame lasts as long as the one before it (1/15 s for a lone frame).
    const long status = encodeWaiting(_lastDuration > 0 ? _lastDuration : _minimumGap);
    // Later frames start a new animation: a fresh encoder and palette.
    avcodec_free_context(&_context);
    _palette.reset();
    return status;
}
