#pragma once
#include "ZVPrivate.h"  // library-internal

// The compression session over libavcodec. Pictures are converted and fitted with
// libswscale on the caller's thread inside encodeFrame, so the source goes back to its
// owner before encodeFrame returns; the encoder itself runs on the session's own thread,
// which also calls the output callback.
//
// Frames wait one step on the caller's side until the next frame gives their duration;
// encoded frames wait one step on the encoder's side until the next one gives their
// decode duration. completeFrames flushes both, drains the encoder, and opens a fresh
// encoder for any later frames.
//
// Ownership: create hands out a small owner object; the encoder thread keeps the session
// itself alive while it runs. When the owner goes, it completes the frames and waits for
// the thread to end, so no callback comes after; when it goes inside a callback (the
// caller let go of its last reference there), the thread ends after that callback without
// calling any other, and the session is freed by the last of the two.
#include <deque>
#include <map>
#include <memory>
#include <thread>
#include <vector>

#include "Foundation/ZVMutex.h"
#include "Media/ZVCompressionSession.h"
#include "Platform/FFmpeg/ZVFFmpegCodecTable.h"
#include "Platform/FFmpeg/ZVFFmpegScaler.h"

struct AVCodecContext;
struct AVFrame;
struct AVPacket;
class ZVFFmpegStreamParameters;

class ZVFFmpegCompressionSession : public ZVCompressionSession,
                                   public std::enable_shared_from_this<ZVFFmpegCompressionSession> {
  public:
    static std::shared_ptr<ZVCompressionSession> create(int32_t width, int32_t height,
                                                        uint32_t codecType, int32_t timeScale,
                                                        const ZVCompressionSessionOptions& options,
                                                        ZVCompressionOutputCallback output,
                                                        long* error);
    // Whether the codec library has an encoder for the codec. Any thread.
    static bool supportsCodec(uint32_t codecType);

    ~ZVFFmpegCompressionSession() override;

    // What the owner does as it goes: complete and wait for the thread (`wait`), or, from
    // inside a callback, only tell the thread to stop calling back.
    void shutDown(bool wait);
    bool isEncoderThread();

    int32_t timeScale() const override { return _timeScale; }
    int32_t width() const override { return _width; }
    int32_t height() const override { return _height; }
    uint32_t codecType() const override { return _codec.codecType; }
    long encodeFrame(const ZVSourcePixels& pixels, int64_t displayTimeStamp,
                     int64_t displayDuration, uint32_t validTimeFlags,
                     ZVSourceTrackingCallback tracking, ZVSourceReference source) override;
    void setEndTimeStamp(int64_t endTimeStamp) override;
    long completeFrames() override;

    ZVFFmpegCompressionSession(const ZVFFmpegVideoCodec& codec, int32_t width, int32_t height,
                               int32_t timeScale, const ZVCompressionSessionOptions& options,
                               ZVCompressionOutputCallback output);

  private:
    // A converted picture on its way to the encoder; frame == nullptr asks for a drain.
    struct Job {
        AVFrame* frame = nullptr;
        int64_t duration = 0;
    };

    long openEncoder(AVCodecContext** out);
    void hand(Job job);
    void encoderLoop();
    long encode(const Job& job);
    long receivePackets();
    void emit(AVPacket* packet, int64_t decodeDuration);
    void recycle(AVFrame* frame);
    void deliver(long status, ZVEncodedFrameRef frame);

    const ZVFFmpegVideoCodec _codec;
    const int32_t _width, _height, _timeScale;
    const ZVCompressionSessionOptions _options;
    const ZVCompressionOutputCallback _output;
    size_t _maxPending;

    // Caller's side (the thread of encodeFrame / completeFrames).
    ZVFFmpegScaler _scaler;
    AVFrame* _held = nullptr;  // waits for the next time stamp to know its duration
    int64_t _lastPts = 0;
    int64_t _lastDuration = 0;
    bool _anyFrame = false;
    // The movie time between key frames is at most this (plus a frame); the encoder may
    // put them closer.
    static constexpr int kMaxKeyFrameSeconds = 2;
    int64_t _lastKeyPts = 0;  // of the last frame made a key frame here

    // Encoder thread's side.
    AVCodecContext* _context = nullptr;
    std::shared_ptr<const ZVFFmpegStreamParameters> _stream;
    std::map<int64_t, int64_t> _durations;  // display duration by display time stamp
    AVPacket* _heldPacket = nullptr;        // waits for the next decode time stamp

    ZVMutex _lock;  // guards the hand-off fields below
    ZVCondition _changed;
    std::deque<Job> _jobs ZV_GUARDED_BY(_lock);
    bool _busy ZV_GUARDED_BY(_lock) = false;
    bool _quit ZV_GUARDED_BY(_lock) = false;
    // Converted frames the encoder let go of, for the next pictures (saves page faults).
    std::vector<AVFrame*> _spare ZV_GUARDED_BY(_lock);
    long _status ZV_GUARDED_BY(_lock) = 0;  // first encoder failure since the last drain
    bool _exited ZV_GUARDED_BY(_lock) = false;
    std::thread::id _threadId ZV_GUARDED_BY(_lock);  // set by the thread as it starts
};
