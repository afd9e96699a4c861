#include "Platform/FFmpeg/ZVFFmpegScaler.h"

#include <algorithm>
#include <cstdlib>

extern "C" {
#include <libavutil/buffer.h>
#include <libavutil/frame.h>
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

namespace {
constexpr int kMaxSourceSide = 32768;  // keeps width * 4 and the scaler's sums in range
constexpr int kRowAlignment = 64;      // what the encoders' SIMD reads want
}  // namespace

ZVFFmpegPlacement ZVFFmpegLetterbox(int srcW, int srcH, int dstW, int dstH, int alignX,
                                    int alignY) {
    ZVFFmpegPlacement p{0, 0, dstW, dstH};
    if (srcW <= 0 || srcH <= 0) return p;
    // Compare srcW/srcH with dstW/dstH without rounding: the limiting side fills.
    if (static_cast<int64_t>(srcW) * dstH > static_cast<int64_t>(srcH) * dstW)
        p.height = static_cast<int>((static_cast<int64_t>(srcH) * dstW + srcW / 2) / srcW);
    else
        p.width = static_cast<int>((static_cast<int64_t>(srcW) * dstH + srcH / 2) / srcH);
    int mx = (1 << alignX) - 1, my = (1 << alignY) - 1;
    p.width = std::max(p.width & ~mx, std::min(dstW, mx + 1));
    p.height = std::max(p.height & ~my, std::min(dstH, my + 1));
    p.x = ((dstW - p.width) / 2) & ~mx;
    p.y = ((dstH - p.height) / 2) & ~my;
    return p;
}

bool ZVFFmpegIsJPEGRange(AVPixelFormat format) {
    return format == AV_PIX_FMT_YUVJ420P || format == AV_PIX_FMT_YUVJ422P ||
           format == AV_PIX_FMT_YUVJ444P;
}

ZVFFmpegScaler::ZVFFmpegScaler(int width, int height, AVPixelFormat format, bool letterbox,
                               int alignX, int alignY)
    : _width(width),
      _height(height),
      _format(format),
      _letterbox(letterbox),
      _alignX(alignX),
      _alignY(alignY) {}

ZVFFmpegScaler::~ZVFFmpegScaler() {
    sws_freeContext(_sws);
    // Buffers still held by an encoder return to the pool, which goes with the last of them.
    av_buffer_pool_uninit(&_pool);
}

AVFrame* ZVFFmpegScaler::pooledFrame() {
    // Pictures come from a pool rather than from av_frame_get_buffer: an encoder may keep a
    // reference to a picture after it was sent (the frame cannot be reused then), and fresh
    // memory every frame would cost a page fault per page written.
    if (!_pool) {
        const int bytes = av_image_get_buffer_size(_format, _width, _height, kRowAlignment);
        if (bytes <= 0) return nullptr;
        _pool = av_buffer_pool_init(static_cast<size_t>(bytes), nullptr);
        if (!_pool) return nullptr;
    }
    AVFrame* frame = av_frame_alloc();
    if (!frame) return nullptr;
    frame->buf[0] = av_buffer_pool_get(_pool);
    if (!frame->buf[0] || av_image_fill_arrays(frame->data, frame->linesize, frame->buf[0]->data,
                                               _format, _width, _height, kRowAlignment) < 0) {
        av_frame_free(&frame);
        return nullptr;
    }
    frame->width = _width;
    frame->height = _height;
    frame->format = _format;
    return frame;
}

bool ZVFFmpegScaler::prepare(int srcW, int srcH) {
    if (_sws && srcW == _srcW && srcH == _srcH) return true;
    _place = _letterbox ? ZVFFmpegLetterbox(srcW, srcH, _width, _height, _alignX, _alignY)
                        : ZVFFmpegPlacement{0, 0, _width, _height};
    sws_freeContext(_sws);
    _sws = sws_getContext(srcW, srcH, AV_PIX_FMT_BGRA, _place.width, _place.height, _format,
                          SWS_BICUBIC, nullptr, nullptr, nullptr);
    if (!_sws) return false;
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(_format);
    if (desc && !(desc->flags & AV_PIX_FMT_FLAG_RGB)) {
        // Screen pictures are HD material: BT.709, limited range. JPEG pictures are full
        // range and read as BT.601 by every decoder, which is what they get.
        int full = ZVFFmpegIsJPEGRange(_format);
        sws_setColorspaceDetails(_sws, sws_getCoefficients(SWS_CS_DEFAULT), 1,
                                 sws_getCoefficients(full ? SWS_CS_ITU601 : SWS_CS_ITU709), full, 0,
                                 1 << 16, 1 << 16);
    }
    _srcW = srcW;
    _srcH = srcH;
    return true;
}

AVFrame* ZVFFmpegScaler::convert(const ZVSourcePixels& pixels, AVFrame* reuse) {
    AVFrame* frame = reuse;
    if (!pixels.baseAddress || pixels.width <= 0 || pixels.height <= 0 ||
        pixels.width > kMaxSourceSide || pixels.height > kMaxSourceSide ||
        std::abs(pixels.bytesPerRow) < pixels.width * 4 || !prepare(pixels.width, pixels.height)) {
        av_frame_free(&frame);
        return nullptr;
    }
    if (!frame && !(frame = pooledFrame())) return nullptr;
    bool full = ZVFFmpegIsJPEGRange(_format);
    if (_place.width != _width || _place.height != _height) {
        ptrdiff_t lines[4];
        for (int i = 0; i < 4; i++) lines[i] = frame->linesize[i];
        av_image_fill_black(frame->data, lines, _format, full ? AVCOL_RANGE_JPEG : AVCOL_RANGE_MPEG,
                            _width, _height);
    }
    // Point each plane at the placement's corner (the x offset in bytes of that plane).
    uint8_t* dst[4] = {};
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(_format);
    for (int i = 0; i < 4 && frame->data[i]; i++) {
        bool chroma = (i == 1 || i == 2) && !(desc->flags & AV_PIX_FMT_FLAG_RGB);
        int y = chroma ? _place.y >> desc->log2_chroma_h : _place.y;
        int xBytes = _place.x > 0 ? av_image_get_linesize(_format, _place.x, i) : 0;
        dst[i] = frame->data[i] + static_cast<ptrdiff_t>(y) * frame->linesize[i] + xBytes;
    }
    const uint8_t* src[1] = {pixels.baseAddress};
    int srcStride[1] = {pixels.bytesPerRow};
    sws_scale(_sws, src, srcStride, 0, pixels.height, dst, frame->linesize);
    frame->color_range = full ? AVCOL_RANGE_JPEG : AVCOL_RANGE_MPEG;
    if (!(desc->flags & AV_PIX_FMT_FLAG_RGB) && !full) {
        frame->colorspace = AVCOL_SPC_BT709;
        frame->color_primaries = AVCOL_PRI_BT709;
        frame->color_trc = AVCOL_TRC_BT709;
    }
    return frame;
}
