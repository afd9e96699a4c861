#include "Platform/FFmpeg/ZVFFmpegCompressionSession.h"

#include <algorithm>
#include <cstdint>
#include <exception>
#include <typeinfo>

#include "Foundation/ZVLog.h"
#include "Platform/FFmpeg/ZVFFmpegEncodedFrame.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/dict.h>
#include <libavutil/error.h>
#include <libavutil/pixdesc.h>
}

namespace {
constexpr int32_t kMaxSide = 16384;

int32_t alignUp(int32_t v, int shift) {
    int32_t m = (1 << shift) - 1;
    return (v + m) & ~m;
}

// What create hands out: its destruction ends the session (see the header).
class Owner : public ZVCompressionSession {
  public:
    explicit Owner(std::shared_ptr<ZVFFmpegCompressionSession> s) : _s(std::move(s)) {}
    ~Owner() override { _s->shutDown(!_s->isEncoderThread()); }
    int32_t timeScale() const override { return _s->timeScale(); }
    int32_t width() const override { return _s->width(); }
    int32_t height() const override { return _s->height(); }
    uint32_t codecType() const override { return _s->codecType(); }
    long encodeFrame(const ZVSourcePixels& pixels, int64_t displayTimeStamp,
                     int64_t displayDuration, uint32_t validTimeFlags,
                     ZVSourceTrackingCallback tracking, ZVSourceReference source) override {
        return _s->encodeFrame(pixels, displayTimeStamp, displayDuration, validTimeFlags,
                               std::move(tracking), std::move(source));
    }
    void setEndTimeStamp(int64_t endTimeStamp) override { _s->setEndTimeStamp(endTimeStamp); }
    long completeFrames() override { return _s->completeFrames(); }

  private:
    std::shared_ptr<ZVFFmpegCompressionSession> _s;
};

std::string averror(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}
}  // namespace

bool ZVFFmpegCompressionSession::supportsCodec(uint32_t codecType) {
    const ZVFFmpegVideoCodec* codec = ZVFFmpegFindVideoCodec(codecType);
    return codec && avcodec_find_encoder_by_name(codec->encoderName);
}

std::shared_ptr<ZVCompressionSession> ZVFFmpegCompressionSession::create(
    int32_t width, int32_t height, uint32_t codecType, int32_t timeScale,
    const ZVCompressionSessionOptions& options, ZVCompressionOutputCallback output, long* error) {
    long dummy = 0;
    long& status = error ? *error : dummy;
    if (!supportsCodec(codecType)) {
        ZVLog("No encoder for video codec '%s'", ZVStringFromFourCC(codecType).c_str());
        status = kZVMediaErrUnsupported;
        return nullptr;
    }
    if (width <= 0 || height <= 0 || width > kMaxSide || height > kMaxSide || timeScale <= 0) {
        ZVLog("Cannot encode %dx%d pictures at time scale %d", width, height, timeScale);
        status = kZVMediaErrParam;
        return nullptr;
    }
    const ZVFFmpegVideoCodec& codec = *ZVFFmpegFindVideoCodec(codecType);
    auto session = std::make_shared<ZVFFmpegCompressionSession>(
        codec, alignUp(width, codec.widthAlignShift), alignUp(height, codec.heightAlignShift),
        timeScale, options, std::move(output));
    // Open the first encoder now, so that settings the encoder refuses fail here.
    status = session->openEncoder(&session->_context);
    if (status != kZVMediaNoErr) return nullptr;
    // The thread keeps its own reference to the session (see the header).
    std::thread([session] { session->encoderLoop(); }).detach();
    return std::make_shared<Owner>(session);
}

ZVFFmpegCompressionSession::ZVFFmpegCompressionSession(const ZVFFmpegVideoCodec& codec,
                                                       int32_t width, int32_t height,
                                                       int32_t timeScale,
                                                       const ZVCompressionSessionOptions& options,
                                                       ZVCompressionOutputCallback output)
    : _codec(codec),
      _width(width),
      _height(height),
      _timeScale(timeScale),
      _options(options),
      _output(std::move(output)),
      _maxPending(static_cast<size_t>(std::clamp(options.maxFrameDelayCount(), 1, 15))),
      _scaler(width, height, codec.pixelFormat, options.scalingMode() == kZVScalingMode_Letterbox,
              codec.widthAlignShift, codec.heightAlignShift) {}

ZVFFmpegCompressionSession::~ZVFFmpegCompressionSession() {
    av_frame_free(&_held);
    av_packet_free(&_heldPacket);
    ZVLockGuard<ZVMutex> g(_lock);
    for (AVFrame* f : _spare) av_frame_free(&f);
    for (Job& job : _jobs) av_frame_free(&job.frame);
    avcodec_free_context(&_context);
}

bool ZVFFmpegCompressionSession::isEncoderThread() {
    ZVLockGuard<ZVMutex> g(_lock);
    return _threadId == std::this_thread::get_id();
}

void ZVFFmpegCompressionSession::shutDown(bool wait) {
    if (wait) completeFrames();
    ZVLockGuard<ZVMutex> g(_lock);
    _quit = true;
    _changed.notifyAll();
    if (wait) _changed.wait(_lock, [&]() ZV_REQUIRES(_lock) { return _exited; });
}

long ZVFFmpegCompressionSession::openEncoder(AVCodecContext** out) {
    const AVCodec* encoder = avcodec_find_encoder_by_name(_codec.encoderName);
    AVCodecContext* c = encoder ? avcodec_alloc_context3(encoder) : nullptr;
    if (!c) return kZVMediaErrUnsupported;
    c->width = _width;
    c->height = _height;
    c->pix_fmt = _codec.pixelFormat;
    c->time_base = AVRational{1, _timeScale};
    // Without it the encoder takes the time scale for the frame rate and tags the stream
    // with a level meant for thousands of frames a second.
    if (_options.expectedFrameRate() > 0)
        c->framerate = av_d2q(_options.expectedFrameRate(), 1 << 16);
    c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;  // the configuration goes into the track header
    c->thread_count = 0;  // as many threads as the machine has ("threads" may override)
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(_codec.pixelFormat);
    if (ZVFFmpegIsJPEGRange(_codec.pixelFormat)) {
        c->color_range = AVCOL_RANGE_JPEG;
    } else if (!(desc->flags & AV_PIX_FMT_FLAG_RGB)) {
        c->colorspace = AVCOL_SPC_BT709;
        c->color_primaries = AVCOL_PRI_BT709;
        c->color_trc = AVCOL_TRC_BT709;
        c->color_range = AVCOL_RANGE_MPEG;
    }
    if (!_options.allowTemporalCompression())
        c->gop_size = 1;
    else if (_options.maxKeyFrameInterval() > 0)
        c->gop_size = _options.maxKeyFrameInterval();
    if (!_options.allowFrameReordering()) c->max_b_frames = 0;

    AVDictionary* opts = nullptr;
    for (const auto& [name, value] : _options.codecOptions())
        av_dict_set(&opts, name.c_str(), value.c_str(), 0);
    if (_options.averageDataRate() > 0)
        c->bit_rate = _options.averageDataRate();
    else
        ZVFFmpegApplyQuality(_codec, _options.quality(), c, &opts);
    if (_codec.codecType == kZVVideoCodecType_HEVC && !av_dict_get(opts, "x265-params", nullptr, 0))
        av_dict_set(&opts, "x265-params", "log-level=error", 0);

    int r = avcodec_open2(c, encoder, &opts);
    if (r < 0) {
        ZVLog("avcodec_open2(%s) failed: %s", _codec.encoderName, averror(r).c_str());
        av_dict_free(&opts);
        avcodec_free_context(&c);
        return kZVMediaErrEncoder;
    }
    for (const AVDictionaryEntry* e = nullptr;
         (e = av_dict_get(opts, "", e, AV_DICT_IGNORE_SUFFIX));)
        ZVLog("Codec option \"%s\" is unknown to %s; ignored", e->key, _codec.encoderName);
    av_dict_free(&opts);

    AVCodecParameters* params = avcodec_parameters_alloc();
    if (!params || avcodec_parameters_from_context(params, c) < 0) {
        avcodec_parameters_free(&params);
        avcodec_free_context(&c);
        return kZVMediaErrEncoder;
    }
    _stream = std::make_shared<ZVFFmpegStreamParameters>(params);
    *out = c;
    return kZVMediaNoErr;
}

long ZVFFmpegCompressionSession::encodeFrame(const ZVSourcePixels& pixels, int64_t displayTimeStamp,
                                             int64_t displayDuration, uint32_t validTimeFlags,
                                             ZVSourceTrackingCallback tracking,
                                             ZVSourceReference source) {
    const int64_t pts =
        frameTime(_anyFrame ? _lastPts : -1, _lastDuration, displayTimeStamp, validTimeFlags);
    if (pts < 0) return kZVMediaErrParam;

    AVFrame* spare = nullptr;
    {
        ZVLockGuard<ZVMutex> g(_lock);
        if (!_spare.empty()) {
            spare = _spare.back();
            _spare.pop_back();
        }
    }
    AVFrame* frame = _scaler.convert(pixels, spare);
    if (!frame) return kZVMediaErrParam;
    // The pixels have been read: the source goes back now.
    if (tracking) tracking(kZVSourceTrackingFlag_ReleasedPixelBuffer, std::move(source));
    source.reset();

    if (_held) {
        _lastDuration = pts - _lastPts;
        hand(Job{_held, _lastDuration});
    }
    frame->pts = pts;
    // A key frame at least every so often of movie time, however few frames a still
    // stretch of a variable-rate movie has: a seek decodes from the key frame before it.
    const bool key = !_anyFrame || pts - _lastKeyPts > int64_t{kMaxKeyFrameSeconds} * _timeScale;
    frame->pict_type = key ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;
    if (key) _lastKeyPts = pts;
    _held = frame;
    _lastPts = pts;
    _anyFrame = true;
    if ((validTimeFlags & kZVValidTimeFlag_DisplayDurationIsValid) && displayDuration > 0)
        _lastDuration = std::min(displayDuration, kMaxTimeStamp);
    return kZVMediaNoErr;
}

void ZVFFmpegCompressionSession::setEndTimeStamp(int64_t endTimeStamp) {
    // The next frame, if one comes, sets the held frame's duration from its own time stamp.
    if (_held && endTimeStamp > _lastPts && endTimeStamp <= kMaxTimeStamp)
        _lastDuration = endTimeStamp - _lastPts;
}

long ZVFFmpegCompressionSession::completeFrames() {
    if (_held) {
        // The last frame lasts as long as the one before it (1/25 s for a lone frame).
        int64_t duration = _lastDuration > 0 ? _lastDuration : std::max(1, _timeScale / 25);
        hand(Job{_held, duration});
        _held = nullptr;
    }
    hand(Job{});
    ZVLockGuard<ZVMutex> g(_lock);
    _changed.wait(_lock, [&]() ZV_REQUIRES(_lock) { return _jobs.empty() && !_busy; });
    long status = _status;
    _status = kZVMediaNoErr;
    return status;
}

void ZVFFmpegCompressionSession::hand(Job job) {
    {
        ZVLockGuard<ZVMutex> g(_lock);
        // A drain always fits, so completeFrames never waits behind a full queue for it.
        if (job.frame)
            _changed.wait(_lock, [&]() ZV_REQUIRES(_lock) { return _jobs.size() < _maxPending; });
        _jobs.push_back(job);
    }
    _changed.notifyAll();
}

void ZVFFmpegCompressionSession::recycle(AVFrame* frame) {
    // An encoder that keeps a reference (frame threads) makes the frame unwritable.
    if (av_frame_is_writable(frame)) {
        ZVLockGuard<ZVMutex> g(_lock);
        if (_spare.size() < 2) {
            _spare.push_back(frame);
            return;
        }
    }
    av_frame_free(&frame);
}

void ZVFFmpegCompressionSession::encoderLoop() {
    {
        ZVLockGuard<ZVMutex> g(_lock);
        _threadId = std::this_thread::get_id();
    }
    for (;;) {
        Job job;
        {
            ZVLockGuard<ZVMutex> g(_lock);
            _changed.wait(_lock, [&]() ZV_REQUIRES(_lock) { return _quit || !_jobs.empty(); });
            if (_quit) {
                // The owner is gone: what is still queued is dropped without a callback.
                for (Job& j : _jobs) av_frame_free(&j.frame);
                _jobs.clear();
                _exited = true;
                _changed.notifyAll();
                return;
            }
            job = _jobs.front();
            _jobs.pop_front();
            _busy = true;
        }
        _changed.notifyAll();
        long status = kZVMediaErrEncoder;
        try {
            status = encode(job);
        } catch (const std::exception& e) {
            ZVLog("Compression session: %s in output: %s", typeid(e).name(), e.what());
        } catch (...) {
            ZVLog("Compression session: unknown exception in output");
        }
        {
            ZVLockGuard<ZVMutex> g(_lock);
            if (status != kZVMediaNoErr && _status == kZVMediaNoErr) _status = status;
            _busy = false;
        }
        _changed.notifyAll();
    }
}

long ZVFFmpegCompressionSession::encode(const Job& job) {
    AVFrame* frame = job.frame;
    if (!frame && !_context) return kZVMediaNoErr;  // nothing since the last drain
    if (!_context) {
        long status = openEncoder(&_context);
        if (status != kZVMediaNoErr) {
            if (frame) deliver(status, nullptr);
            av_frame_free(&frame);
            return status;
        }
    }
    if (!frame) {
        avcodec_send_frame(_context, nullptr);
        long status = receivePackets();
        if (_heldPacket) {
            AVPacket* last = _heldPacket;
            _heldPacket = nullptr;
            emit(last, last->duration);
        }
        avcodec_free_context(&_context);  // a drained encoder takes no more frames
        _durations.clear();
        return status;
    }
    int64_t pts = frame->pts;
    _durations[pts] = job.duration;
    int r = avcodec_send_frame(_context, frame);
    recycle(frame);
    if (r < 0) {
        ZVLog("avcodec_send_frame(%s) failed: %s", _codec.encoderName, averror(r).c_str());
        _durations.erase(pts);
        deliver(kZVMediaErrEncoder, nullptr);
        return kZVMediaErrEncoder;
    }
    return receivePackets();
}

long ZVFFmpegCompressionSession::receivePackets() {
    for (;;) {
        AVPacket* packet = av_packet_alloc();
        if (!packet) return kZVMediaErrEncoder;
        int r = avcodec_receive_packet(_context, packet);
        if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) {
            av_packet_free(&packet);
            return kZVMediaNoErr;
        }
        if (r < 0) {
            av_packet_free(&packet);
            ZVLog("avcodec_receive_packet(%s) failed: %s", _codec.encoderName, averror(r).c_str());
            deliver(kZVMediaErrEncoder, nullptr);
            return kZVMediaErrEncoder;
        }
        auto it = _durations.find(packet->pts);
        packet->duration = it != _durations.end() ? it->second : 0;
        if (it != _durations.end()) _durations.erase(it);
        if (packet->dts == AV_NOPTS_VALUE) packet->dts = packet->pts;
        if (_heldPacket) {
            int64_t decodeDuration = packet->dts - _heldPacket->dts;
            if (decodeDuration <= 0) decodeDuration = _heldPacket->duration;
            AVPacket* previous = _heldPacket;
            _heldPacket = packet;
            emit(previous, decodeDuration);
        } else {
            _heldPacket = packet;
        }
    }
}

void ZVFFmpegCompressionSession::emit(AVPacket* packet, int64_t decodeDuration) {
    auto frame = std::make_shared<ZVFFmpegEncodedFrame>(packet, decodeDuration, _timeScale,
                                                        _codec.codecType, _width, _height, _stream);
    deliver(kZVMediaNoErr, std::move(frame));
}

void ZVFFmpegCompressionSession::deliver(long status, ZVEncodedFrameRef frame) {
    {
        ZVLockGuard<ZVMutex> g(_lock);
        if (_quit) return;  // the owner let go inside a callback: no more of them
    }
    if (_output) _output(status, std::move(frame));
}
