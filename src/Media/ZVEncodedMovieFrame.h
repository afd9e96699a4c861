#pragma once
#include "ZVPrivate.h"  // library-internal

// A compressed video frame on its way through a queue to the movie writer. The wrapper
// keeps its own reference to the frame for its whole life.
#include <memory>

#include "Media/ZVEncodedFrame.h"
#include "Pipeline/ZVDataFlow.h"

class ZVEncodedMovieFrame : public ZVQueueObject {
  public:
    // nullptr for a null frame. Any thread.
    static std::shared_ptr<ZVEncodedMovieFrame> initWithICMEncodedFrame(ZVEncodedFrameRef frame);
    static std::shared_ptr<ZVEncodedMovieFrame> encodedMovieFrameWithICMEncodedFrame(
        ZVEncodedFrameRef frame);

    explicit ZVEncodedMovieFrame(ZVEncodedFrameRef frame) : _encodedFrame(std::move(frame)) {}

    // The frame; the wrapper keeps its reference. Any thread.
    const ZVEncodedFrameRef& encodedFrame() const { return _encodedFrame; }
    // The compressed size in bytes, what a queue weighs it by. Any thread.
    int64_t dataSize() const override;

  private:
    ZVEncodedFrameRef _encodedFrame;
};
