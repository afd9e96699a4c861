#pragma once
#include "ZVPrivate.h"  // library-internal

// A video compression session: BGRA pictures in, one compressed frame per picture out.
// Frames are encoded asynchronously on the session's own thread, in display order as
// given; the session works out each frame's duration from the next frame's time stamp
// and fits every picture to its own size (scaling mode, see ZVCompressionSessionOptions).
//
// Ownership of a source: encodeFrame takes a reference to the source object (normally the
// frame whose pixels are passed) and keeps it, with the pixels valid, until it no longer
// reads them; it then hands that reference to the tracking callback with
// kZVSourceTrackingFlag_ReleasedPixelBuffer, exactly once per encoded source, and drops it.
#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "Foundation/ZVGeometry.h"
#include "Media/ZVCompressionSessionOptions.h"
#include "Media/ZVEncodedFrame.h"

// A borrowed BGRA picture: rows `bytesPerRow` apart, row 0 (at baseAddress) the top of the
// picture. A picture stored bottom row first has a negative bytesPerRow and its buffer's
// last row at baseAddress, so that it is read without being turned over first.
// A borrowed BGRA picture laid over the encoded one in place of its pixels, rows top
// first, its top-left at (x, y) of the picture as the frame shows it (after the view).
struct ZVSourcePatch {
    const uint8_t* baseAddress = nullptr;
    int32_t width = 0;
    int32_t height = 0;
    int32_t bytesPerRow = 0;
    int32_t x = 0;
    int32_t y = 0;
};

struct ZVSourcePixels {
    ZVSourcePixels() = default;
    ZVSourcePixels(const uint8_t* base, int32_t w, int32_t h, int32_t stride)
        : baseAddress(base), width(w), height(h), bytesPerRow(stride) {}

    const uint8_t* baseAddress = nullptr;
    int32_t width = 0;
    int32_t height = 0;
    int32_t bytesPerRow = 0;
    // The export camera: the part of the picture (in its pixels from the top-left, whole or
    // not) that is scaled to fill it; empty for the whole picture as it is.
    ZVRect view{};
    // Laid over the picture the view gives, at its own scale (the overlays of a zoomed
    // frame, which stay sharp); their pixels are owned like the picture's.
    std::vector<ZVSourcePatch> patches;
};

// encodeFrame's valid-time flags.
inline constexpr uint32_t kZVValidTimeFlag_DisplayTimeStampIsValid = 0x1;
inline constexpr uint32_t kZVValidTimeFlag_DisplayDurationIsValid = 0x2;

// Tracking callback flags.
inline constexpr uint32_t kZVSourceTrackingFlag_LastCall = 0x1;
inline constexpr uint32_t kZVSourceTrackingFlag_ReleasedPixelBuffer = 0x2;
inline constexpr uint32_t kZVSourceTrackingFlag_FrameWasDropped = 0x4;

using ZVSourceReference = std::shared_ptr<void>;
// Called once per encoded frame with status 0 and the frame, or with a non-zero status and
// nullptr when a frame could not be encoded; its answer is ignored. May run on the
// session's thread or inside encodeFrame / completeFrames, and may block (backpressure):
// the session waits for it.
using ZVCompressionOutputCallback = std::function<long(long status, ZVEncodedFrameRef frame)>;
// Called when the session lets go of a source (see above). Same threads as the output.
using ZVSourceTrackingCallback = std::function<void(uint32_t flags, ZVSourceReference source)>;

class ZVMediaToolkit;

class ZVCompressionSession {
  public:
    // A session through `toolkit` (the services' media toolkit). nullptr with `*error` set
    // (when given) when there is no toolkit, the codec is unknown, the size is empty or the
    // encoder refuses its settings. Any thread.
    static std::shared_ptr<ZVCompressionSession> create(ZVMediaToolkit* toolkit, int32_t width,
                                                        int32_t height, uint32_t codecType,
                                                        int32_t timeScale,
                                                        const ZVCompressionSessionOptions& options,
                                                        ZVCompressionOutputCallback output,
                                                        long* error = nullptr);

    // Completes pending frames (as completeFrames) and ends the session's thread. When the
    // last reference goes inside one of the session's own callbacks, pending frames are
    // dropped instead and no further callback comes.
    virtual ~ZVCompressionSession() = default;

    // The time scale given at creation (ticks per second). Any thread.
    virtual int32_t timeScale() const = 0;
    // The size of the encoded pictures (may be rounded up to what the codec needs).
    virtual int32_t width() const = 0;
    virtual int32_t height() const = 0;
    virtual uint32_t codecType() const = 0;

    // Queues one picture with its display time stamp (in the time scale; taken only with
    // kZVValidTimeFlag_DisplayTimeStampIsValid, otherwise the session follows on from the
    // previous frame). A time stamp not after the previous one is moved one tick past it,
    // since frames cannot share a time. The pixels must stay valid and unchanged until the
    // tracking callback hands `source` back. May wait while the session holds its maximum
    // frame delay. Answers 0, or an error after which nothing was kept (the tracking
    // callback is not called then). One thread at a time.
    virtual long encodeFrame(const ZVSourcePixels& pixels, int64_t displayTimeStamp,
                             int64_t displayDuration, uint32_t validTimeFlags,
                             ZVSourceTrackingCallback tracking, ZVSourceReference source) = 0;

    // Has the last frame queued so far last until `endTimeStamp` (in the time scale) when
    // no frame follows it, instead of as long as the one before it; a stamp not after the
    // frame's own is ignored. For a caller that leaves out frames repeating the one before,
    // so that the last picture still lasts to the recording's end; a session whose last
    // frame has no duration of its own ignores it. Same thread as encodeFrame.
    virtual void setEndTimeStamp(int64_t /*endTimeStamp*/) {}

    // Encodes everything queued and calls the output callback for every pending frame
    // before it returns; the session accepts new frames afterwards. Answers 0 or the first
    // error met. Same thread as encodeFrame.
    virtual long completeFrames() = 0;

  protected:
    // Time stamps stay far from the ends of the range, so sums and differences never overflow.
    static constexpr int64_t kMaxTimeStamp = INT64_MAX / 4;
    // The time of a frame given to encodeFrame with these times, after one at `last` that
    // lasted `lastDuration` (`last` < 0: the first frame); -1 when it lies beyond
    // kMaxTimeStamp.
    static int64_t frameTime(int64_t last, int64_t lastDuration, int64_t displayTimeStamp,
                             uint32_t validTimeFlags) {
        int64_t t = last < 0 ? 0 : last + std::max<int64_t>(lastDuration, 1);
        if (validTimeFlags & kZVValidTimeFlag_DisplayTimeStampIsValid)
            t = std::clamp<int64_t>(displayTimeStamp, 0, kMaxTimeStamp);
        if (last >= 0 && t <= last) t = last + 1;  // frames cannot share a time
        return t > kMaxTimeStamp ? -1 : t;
    }
};
