#include "Platform/FFmpeg/ZVFFmpegCodecTable.h"

#include <cmath>
#include <string>

#include "Media/ZVCompressionSessionOptions.h"
#include "Media/ZVMediaTypes.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/dict.h>
}

namespace {
const ZVFFmpegVideoCodec kCodecs[] = {
    {kZVVideoCodecType_H264, "libx264", AV_PIX_FMT_YUV420P, 1, 1},
    {kZVVideoCodecType_HEVC, "libx265", AV_PIX_FMT_YUV420P, 1, 1},
    {kZVVideoCodecType_ProRes422, "prores_ks", AV_PIX_FMT_YUV422P10LE, 1, 0},
    {kZVVideoCodecType_Animation, "qtrle", AV_PIX_FMT_RGB24, 0, 0},
    {kZVVideoCodecType_PNG, "png", AV_PIX_FMT_RGB24, 0, 0},
    {kZVVideoCodecType_MotionJPEG, "mjpeg", AV_PIX_FMT_YUVJ420P, 1, 1},
    {kZVVideoCodecType_VP9, "libvpx-vp9", AV_PIX_FMT_YUV420P, 1, 1},
};

// Piecewise-linear through the named quality steps: min, low, normal, high, max, lossless.
double interpolate(int32_t quality, const double (&at)[6]) {
    static const double steps[6] = {kZVCodecMinQuality,    kZVCodecLowQuality,
                                    kZVCodecNormalQuality, kZVCodecHighQuality,
                                    kZVCodecMaxQuality,    kZVCodecLosslessQuality};
    if (quality <= steps[0]) return at[0];
    for (int i = 1; i < 6; i++)
        if (quality <= steps[i])
            return at[i - 1] +
                   (at[i] - at[i - 1]) * (quality - steps[i - 1]) / (steps[i] - steps[i - 1]);
    return at[5];
}
}  // namespace

const ZVFFmpegVideoCodec* ZVFFmpegFindVideoCodec(uint32_t codecType) {
    for (const auto& c : kCodecs)
        if (c.codecType == codecType) return &c;
    return nullptr;
}

void ZVFFmpegApplyQuality(const ZVFFmpegVideoCodec& codec, int32_t quality, AVCodecContext* context,
                          AVDictionary** options) {
    if (codec.codecType == kZVVideoCodecType_H264 || codec.codecType == kZVVideoCodecType_HEVC) {
        // Normal quality is each encoder's own default rate factor.
        static const double crf[6] = {51, 32, 23, 18, 12, 0};
        if (!av_dict_get(*options, "crf", nullptr, 0) && !av_dict_get(*options, "qp", nullptr, 0))
            av_dict_set(options, "crf",
                        std::to_string(std::lround(interpolate(quality, crf))).c_str(), 0);
    } else if (codec.codecType == kZVVideoCodecType_MotionJPEG) {
        static const double qscale[6] = {31, 12, 5, 3, 2, 1};
        context->flags |= AV_CODEC_FLAG_QSCALE;
        context->global_quality =
            static_cast<int>(std::lround(interpolate(quality, qscale) * FF_QP2LAMBDA));
    } else if (codec.codecType == kZVVideoCodecType_VP9) {
        // Constant quality (no bit-rate target), and the encoder's fast real-time mode: its
        // default takes seconds per 1080p frame.
        static const double crf[6] = {63, 45, 33, 24, 12, 0};
        if (!av_dict_get(*options, "crf", nullptr, 0)) {
            av_dict_set(options, "crf",
                        std::to_string(std::lround(interpolate(quality, crf))).c_str(), 0);
            context->bit_rate = 0;
        }
        if (!av_dict_get(*options, "deadline", nullptr, 0))
            av_dict_set(options, "deadline", "realtime", 0);
        if (!av_dict_get(*options, "cpu-used", nullptr, 0))
            av_dict_set(options, "cpu-used", "8", 0);
        if (!av_dict_get(*options, "row-mt", nullptr, 0)) av_dict_set(options, "row-mt", "1", 0);
    } else if (codec.codecType == kZVVideoCodecType_ProRes422) {
        if (!av_dict_get(*options, "profile", nullptr, 0))
            av_dict_set(options, "profile", "standard", 0);
    }
    // Animation and PNG are lossless.
}
