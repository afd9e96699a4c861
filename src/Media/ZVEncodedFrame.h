#pragma once
#include "ZVPrivate.h"  // library-internal

// One compressed video frame as a compression session gives it out. Shared and immutable:
// a ZVEncodedFrameRef may be kept and read on any thread.
#include <cstdint>
#include <memory>

class ZVEncodedFrame {
  public:
    virtual ~ZVEncodedFrame() = default;

    // The compressed bytes, owned by the frame.
    virtual const uint8_t* data() const = 0;
    virtual int64_t dataSize() const = 0;
    // Times in the session's time scale. The display duration is the span to the next
    // frame in display order (worked out by the session).
    virtual int64_t decodeTimeStamp() const = 0;
    virtual int64_t displayTimeStamp() const = 0;
    virtual int64_t decodeDuration() const = 0;
    virtual int64_t displayDuration() const = 0;
    virtual int32_t timeScale() const = 0;
    virtual bool isKeyFrame() const = 0;
    virtual uint32_t codecType() const = 0;
    // The frame size as encoded (the session's size).
    virtual int32_t width() const = 0;
    virtual int32_t height() const = 0;
};

using ZVEncodedFrameRef = std::shared_ptr<const ZVEncodedFrame>;
