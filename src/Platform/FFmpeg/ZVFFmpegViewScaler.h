#pragma once
#include "ZVPrivate.h"  // library-internal

// The picture scaler over the compression sessions' own (ZVFFmpegScaler, BGRA to BGRA): the
// same filter and the same handling of parts that begin between pixels, so a piece scaled
// here matches the picture a session scales around it.
#include <cstdint>
#include <memory>

#include "Media/ZVPictureScaler.h"

class ZVFFmpegScaler;
struct AVFrame;

class ZVFFmpegViewScaler : public ZVPictureScaler {
  public:
    ZVFFmpegViewScaler() = default;
    ~ZVFFmpegViewScaler() override;
    ZVFFmpegViewScaler(const ZVFFmpegViewScaler&) = delete;
    ZVFFmpegViewScaler& operator=(const ZVFFmpegViewScaler&) = delete;

    bool scale(const ZVSourcePixels& from, ZVRect part, uint8_t* to, int32_t width, int32_t height,
               int32_t bytesPerRow) override;

  private:
    // A scaler and its last picture per output size: the camera's pieces (the cursor's,
    // the strip's) come in turn, each at a size of its own.
    struct Sized {
        int32_t width = 0, height = 0;
        std::unique_ptr<ZVFFmpegScaler> scaler;
        AVFrame* frame = nullptr;
    };
    Sized _sized[3];
    unsigned _next = 0;  // the one a new size takes
};
