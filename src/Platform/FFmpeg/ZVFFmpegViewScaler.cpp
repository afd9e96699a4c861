#include "Platform/FFmpeg/ZVFFmpegViewScaler.h"

#include <cstring>

#include "Platform/FFmpeg/ZVFFmpegScaler.h"

extern "C" {
#include <libavutil/frame.h>
}

ZVFFmpegViewScaler::~ZVFFmpegViewScaler() {
    av_frame_free(&_frame);
}

bool ZVFFmpegViewScaler::scale(const ZVSourcePixels& from, ZVRect part, uint8_t* to,
                               int32_t width, int32_t height, int32_t bytesPerRow) {
    if (!to || width <= 0 || height <= 0 || bytesPerRow < width * 4 || part.size.width <= 0 ||
        part.size.height <= 0)
        return false;
    if (!_scaler || width != _width || height != _height) {
        av_frame_free(&_frame);
        _scaler = std::make_unique<ZVFFmpegScaler>(width, height, AV_PIX_FMT_BGRA, false, 0, 0);
        _width = width;
        _height = height;
    }
    ZVSourcePixels pixels = from;
    pixels.view = part;
    pixels.patches.clear();
    _frame = _scaler->convert(pixels, _frame);
    if (!_frame) return false;
    for (int32_t row = 0; row < height; ++row)
        std::memcpy(to + static_cast<ptrdiff_t>(row) * bytesPerRow,
                    _frame->data[0] + static_cast<ptrdiff_t>(row) * _frame->linesize[0],
                    static_cast<size_t>(width) * 4);
    return true;
}
