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
    std::unique_ptr<ZVFFmpegScaler> _scaler;  // for the last output size
    int32_t _width = 0, _height = 0;
    AVFrame* _frame = nullptr;  // the last picture, reused
};
