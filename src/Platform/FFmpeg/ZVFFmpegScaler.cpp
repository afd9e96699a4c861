#include "Platform/FFmpeg/ZVFFmpegScaler.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <iterator>

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
    av_frame_free(&_shifted);
    av_frame_free(&_patchPicture);
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

namespace {
// Screen pictures are HD material: BT.709, limited range. JPEG pictures are full range and
// read as BT.601 by every decoder, which is what they get.
void setColours(SwsContext* sws, AVPixelFormat format) {
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(format);
    if (!desc || (desc->flags & AV_PIX_FMT_FLAG_RGB)) return;
    int full = ZVFFmpegIsJPEGRange(format);
    sws_setColorspaceDetails(sws, sws_getCoefficients(SWS_CS_DEFAULT), 1,
                             sws_getCoefficients(full ? SWS_CS_ITU601 : SWS_CS_ITU709), full, 0,
                             1 << 16, 1 << 16);
}
}  // namespace

bool ZVFFmpegScaler::Context::fit(int srcW, int srcH, int dstW, int dstH, AVPixelFormat format) {
    if (fits(srcW, srcH, dstW, dstH)) return true;
    sws_freeContext(sws);
    sws = sws_getContext(srcW, srcH, AV_PIX_FMT_BGRA, dstW, dstH, format, SWS_BICUBIC, nullptr,
                         nullptr, nullptr);
    if (!sws) return false;
    setColours(sws, format);
    sizes[0] = srcW, sizes[1] = srcH, sizes[2] = dstW, sizes[3] = dstH;
    return true;
}

ZVFFmpegScaler::Context::~Context() {
    sws_freeContext(sws);
}

void ZVFFmpegScaler::place(int srcW, int srcH) {
    if (srcW == _srcW && srcH == _srcH) return;
    _place = _letterbox ? ZVFFmpegLetterbox(srcW, srcH, _width, _height, _alignX, _alignY)
                        : ZVFFmpegPlacement{0, 0, _width, _height};
    _srcW = srcW;
    _srcH = srcH;
}

AVFrame* ZVFFmpegScaler::convert(const ZVSourcePixels& pixels, AVFrame* reuse) {
    AVFrame* frame = reuse;
    if (!pixels.baseAddress || pixels.width <= 0 || pixels.height <= 0 ||
        pixels.width > kMaxSourceSide || pixels.height > kMaxSourceSide ||
        std::abs(pixels.bytesPerRow) < pixels.width * 4) {
        av_frame_free(&frame);
        return nullptr;
    }
    place(pixels.width, pixels.height);
    // A view has a context of its own; the whole picture's is made only when one comes.
    const bool whole = pixels.view.size.width <= 0 || pixels.view.size.height <= 0;
    if (whole && !_whole.fit(pixels.width, pixels.height, _place.width, _place.height, _format)) {
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
    if (whole) {
        uint8_t* dst[4] = {};
        planesAt(frame, _place.x, _place.y, dst);
        const uint8_t* src[1] = {pixels.baseAddress};
        int srcStride[1] = {pixels.bytesPerRow};
        sws_scale(_whole.sws, src, srcStride, 0, pixels.height, dst, frame->linesize);
    } else if (!convertView(pixels, frame)) {
        av_frame_free(&frame);
        return nullptr;
    }
    convertPatches(pixels, frame);
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(_format);
    frame->color_range = full ? AVCOL_RANGE_JPEG : AVCOL_RANGE_MPEG;
    if (!(desc->flags & AV_PIX_FMT_FLAG_RGB) && !full) {
        frame->colorspace = AVCOL_SPC_BT709;
        frame->color_primaries = AVCOL_PRI_BT709;
        frame->color_trc = AVCOL_TRC_BT709;
    }
    return frame;
}

void ZVFFmpegScaler::planesAt(AVFrame* frame, int x, int y, uint8_t* planes[4]) const {
    // Each plane at the point, its x offset in bytes of that plane.
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(_format);
    for (int i = 0; i < 4; i++) {
        planes[i] = nullptr;
        if (!frame->data[i]) continue;
        bool chroma = (i == 1 || i == 2) && !(desc->flags & AV_PIX_FMT_FLAG_RGB);
        int row = chroma ? y >> desc->log2_chroma_h : y;
        int xBytes = x > 0 ? av_image_get_linesize(_format, x, i) : 0;
        planes[i] = frame->data[i] + static_cast<ptrdiff_t>(row) * frame->linesize[i] + xBytes;
    }
}

bool ZVFFmpegScaler::convertView(const ZVSourcePixels& pixels, AVFrame* frame) {
    const double x = pixels.view.origin.x, y = pixels.view.origin.y;
    const double w = pixels.view.size.width, h = pixels.view.size.height;
    if (!(x >= 0) || !(y >= 0) || !(w >= 1) || !(h >= 1) || x + w > pixels.width + 1e-3 ||
        y + h > pixels.height + 1e-3)
        return false;
    // The whole pixels under the view, and where the view begins in them once scaled.
    const int x0 = static_cast<int>(x), y0 = static_cast<int>(y);
    const int x1 = std::min(pixels.width, static_cast<int>(std::ceil(x + w - 1e-3)));
    const int y1 = std::min(pixels.height, static_cast<int>(std::ceil(y + h - 1e-3)));
    const double sx = _place.width / w, sy = _place.height / h;
    const int shiftX = static_cast<int>(std::lround((x - x0) * sx));
    const int shiftY = static_cast<int>(std::lround((y - y0) * sy));
    const int scaledW =
        std::max(static_cast<int>(std::lround((x1 - x0) * sx)), shiftX + _place.width);
    const int scaledH =
        std::max(static_cast<int>(std::lround((y1 - y0) * sy)), shiftY + _place.height);
    if (!_view.fit(x1 - x0, y1 - y0, scaledW, scaledH, _format)) return false;
    const uint8_t* src[1] = {pixels.baseAddress + static_cast<ptrdiff_t>(y0) * pixels.bytesPerRow +
                             static_cast<ptrdiff_t>(x0) * 4};
    const int srcStride[1] = {pixels.bytesPerRow};
    uint8_t* dst[4] = {};
    // A view on whole pixels that fills the place exactly is scaled straight into it.
    if (shiftX == 0 && shiftY == 0 && scaledW == _place.width && scaledH == _place.height) {
        planesAt(frame, _place.x, _place.y, dst);
        sws_scale(_view.sws, src, srcStride, 0, y1 - y0, dst, frame->linesize);
        return true;
    }
    if (!scratch(_shifted, scaledW, scaledH)) return false;
    sws_scale(_view.sws, src, srcStride, 0, y1 - y0, _shifted->data, _shifted->linesize);
    // The window the view covers; chroma planes move by their own (coarser) pixels.
    uint8_t* from[4] = {};
    planesAt(_shifted, shiftX, shiftY, from);
    planesAt(frame, _place.x, _place.y, dst);
    copyPlanes(from, _shifted->linesize, dst, frame->linesize, _place.width, _place.height);
    return true;
}

void ZVFFmpegScaler::copyPlanes(uint8_t* const from[4], const int fromLines[4],
                                uint8_t* const to[4], const int toLines[4], int width,
                                int height) const {
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(_format);
    for (int i = 0; i < 4 && to[i]; i++) {
        const bool chroma = (i == 1 || i == 2) && !(desc->flags & AV_PIX_FMT_FLAG_RGB);
        const int rows = chroma ? AV_CEIL_RSHIFT(height, desc->log2_chroma_h) : height;
        const int bytes = av_image_get_linesize(_format, width, i);
        for (int r = 0; r < rows; r++)
            std::memcpy(to[i] + static_cast<ptrdiff_t>(r) * toLines[i],
                        from[i] + static_cast<ptrdiff_t>(r) * fromLines[i],
                        static_cast<size_t>(bytes));
    }
}

AVFrame* ZVFFmpegScaler::scratch(AVFrame*& frame, int width, int height) const {
    // Kept at the largest size asked so far, and some more: sizes change from frame to
    // frame (a view easing in), and fresh memory costs a page fault per page.
    if (!frame || frame->width < width || frame->height < height) {
        av_frame_free(&frame);
        frame = av_frame_alloc();
        if (!frame) return nullptr;
        frame->width = width + width / 8;
        frame->height = height + height / 8;
        frame->format = _format;
        if (av_frame_get_buffer(frame, kRowAlignment) < 0) av_frame_free(&frame);
    }
    return frame;
}

void ZVFFmpegScaler::convertPatches(const ZVSourcePixels& pixels, AVFrame* frame) {
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(_format);
    // Patches land on whole chroma samples, so that their colours are not shifted.
    const int alignX = (1 << desc->log2_chroma_w) - 1, alignY = (1 << desc->log2_chroma_h) - 1;
    for (const ZVSourcePatch& patch : pixels.patches) {
        if (!patch.baseAddress || patch.width <= 0 || patch.height <= 0 ||
            patch.bytesPerRow < patch.width * 4)
            continue;
        // From the picture's pixels to the place's, and kept inside it.
        const double sx = double(_place.width) / pixels.width;
        const double sy = double(_place.height) / pixels.height;
        int x = static_cast<int>(std::lround(patch.x * sx)) & ~alignX;
        int y = static_cast<int>(std::lround(patch.y * sy)) & ~alignY;
        int w = static_cast<int>(std::lround(patch.width * sx)) & ~alignX;
        int h = static_cast<int>(std::lround(patch.height * sy)) & ~alignY;
        if (x < 0 || y < 0 || w <= 0 || h <= 0 || x + w > _place.width || y + h > _place.height)
            continue;
        // The cursor's piece and the strip's come in turn: each keeps a context of its own.
        Context* context = nullptr;
        for (Context& c : _patches)
            if (c.fits(patch.width, patch.height, w, h)) context = &c;
        if (!context) context = &_patches[_nextPatch++ % std::size(_patches)];
        if (!context->fit(patch.width, patch.height, w, h, _format)) return;
        // The scaler writes rows a little past their end unless their width is a multiple of
        // 16: a patch is converted apart and its own pixels are copied into the picture.
        if (!scratch(_patchPicture, w, h)) return;
        const uint8_t* src[1] = {patch.baseAddress};
        const int srcStride[1] = {patch.bytesPerRow};
        sws_scale(context->sws, src, srcStride, 0, patch.height, _patchPicture->data,
                  _patchPicture->linesize);
        uint8_t* dst[4] = {};
        planesAt(frame, _place.x + x, _place.y + y, dst);
        copyPlanes(_patchPicture->data, _patchPicture->linesize, dst, frame->linesize, w, h);
    }
}
