#pragma once
#include "ZVPrivate.h"  // library-internal

// The compression session of animated GIFs: pictures fitted to the size, mapped onto a
// palette made from the first picture, and encoded with libavcodec's GIF encoder, all on
// the caller's thread inside encodeFrame (a GIF is small and its encoder keeps no frames
// back). A GIF file grows with every frame, so frames closer than 1 / the expected frame
// rate (15 a second when none is given) to the previous one kept are left out: the kept
// frame lasts until the next one, as its delay says.
//
// A frame waits one step until the next kept frame gives its duration; completeFrames
// sends it with the duration of the one before it.
#include <memory>
#include <optional>

#include "Media/ZVCompressionSession.h"
#include "Platform/FFmpeg/ZVFFmpegGIFPalette.h"
#include "Platform/FFmpeg/ZVFFmpegScaler.h"

struct AVCodecContext;
struct AVFrame;
class ZVFFmpegStreamParameters;

class ZVFFmpegGIFSession : public ZVCompressionSession {
  public:
    // nullptr with `*error` set when the size or time scale is out of range or there is no
    // GIF encoder. Any thread.
    static std::shared_ptr<ZVCompressionSession> create(int32_t width, int32_t height,
                                                        int32_t timeScale,
                                                        const ZVCompressionSessionOptions& options,
                                                        ZVCompressionOutputCallback output,
                                                        long* error);
    ZVFFmpegGIFSession(int32_t width, int32_t height, int32_t timeScale,
                       const ZVCompressionSessionOptions& options,
                       ZVCompressionOutputCallback output);
    ~ZVFFmpegGIFSession() override;

    int32_t timeScale() const override { return _timeScale; }
    int32_t width() const override { return _width; }
    int32_t height() const override { return _height; }
    uint32_t codecType() const override;
    long encodeFrame(const ZVSourcePixels& pixels, int64_t displayTimeStamp,
                     int64_t displayDuration, uint32_t validTimeFlags,
                     ZVSourceTrackingCallback tracking, ZVSourceReference source) override;
    long completeFrames() override;

  private:
    long open();
    // Encodes the waiting frame, lasting `duration`, and hands its packet to the output.
    long encodeWaiting(int64_t duration);

    const int32_t _width, _height, _timeScale;
    const ZVCompressionOutputCallback _output;
    int64_t _minimumGap;  // between kept frames, in the time scale
    ZVFFmpegScaler _scaler;
    std::optional<ZVFFmpegGIFPalette> _palette;  // from the first picture
    AVCodecContext* _context = nullptr;
    std::shared_ptr<const ZVFFmpegStreamParameters> _stream;
    AVFrame* _fitted = nullptr;   // the BGRA picture at the session's size, reused
    AVFrame* _waiting = nullptr;  // the last kept frame, mapped onto the palette
    int64_t _lastDuration = 0;
    int64_t _lastPts = -1;  // of the last frame given, kept or not
};
