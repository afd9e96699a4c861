#include "Platform/FFmpeg/ZVFFmpegViewScaler.h"

#include <cstring>
#include <iterator>

#include "Platform/FFmpeg/ZVFFmpegScaler.h"

extern "C" {
#include <libavutil/frame.h>
}

ZVFFmpegViewScaler::~ZVFFmpegViewScaler() {
    for (Sized& s : _sized) av_frame_free(&s.frame);
}

bool ZVFFmpegViewScaler::scale(const ZVSourcePixels& from, ZVRect part, uint8_t* to, int32_t width,
                               int32_t height, int32_t bytesPerRow) {
    if (!to || width <= 0 || height <= 0 || bytesPerRow < width * 4 || part.size.width <= 0 ||
        part.size.height <= 0)
        return false;
    Sized* sized = nullptr;
    for (Sized& s : _sized)
        if (s.scaler && s.width == width && s.height == height) sized = &s;
    if (!sized) {
        sized = &_sized[_next++ % std::size(_sized)];
        av_frame_free(&sized->frame);
        sized->scaler =
            std::make_unique<ZVFFmpegScaler>(width, height, AV_PIX_FMT_BGRA, false, 0, 0);
        sized->width = width;
        sized->height = height;
    }
    ZVSourcePixels pixels = from;
    pixels.view = part;
    pixels.patches.clear();
    AVFrame* frame = sized->frame = sized->scaler->convert(pixels, sized->frame);
    if (!frame) return false;
    for (int32_t row = 0; row < height; ++row)
        std::memcpy(to + static_cast<ptrdiff_t>(row) * bytesPerRow,
                    frame->data[0] + static_cast<ptrdiff_t>(row) * frame->linesize[0],
                    static_cast<size_t>(width) * 4);
    return true;
}
