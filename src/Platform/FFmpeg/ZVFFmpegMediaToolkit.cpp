#include "Platform/FFmpeg/ZVFFmpegMediaToolkit.h"

#include "Platform/FFmpeg/ZVFFmpegAudioConverter.h"
#include "Platform/FFmpeg/ZVFFmpegCompressionSession.h"
#include "Platform/FFmpeg/ZVFFmpegGIFSession.h"
#include "Platform/FFmpeg/ZVFFmpegMovieMuxer.h"
#include "Platform/FFmpeg/ZVFFmpegViewScaler.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/log.h>
}

ZVFFmpegMediaToolkit::ZVFFmpegMediaToolkit() {
    av_log_set_level(AV_LOG_ERROR);
}

std::shared_ptr<ZVCompressionSession> ZVFFmpegMediaToolkit::createCompressionSession(
    int32_t width, int32_t height, uint32_t codecType, int32_t timeScale,
    const ZVCompressionSessionOptions& options, ZVCompressionOutputCallback output, long* error) {
    if (codecType == kZVVideoCodecType_GIF)
        return ZVFFmpegGIFSession::create(width, height, timeScale, options, std::move(output),
                                          error);
    return ZVFFmpegCompressionSession::create(width, height, codecType, timeScale, options,
                                              std::move(output), error);
}

bool ZVFFmpegMediaToolkit::supportsVideoCodec(uint32_t codecType) {
    if (codecType == kZVVideoCodecType_GIF) return avcodec_find_encoder(AV_CODEC_ID_GIF) != nullptr;
    return ZVFFmpegCompressionSession::supportsCodec(codecType);
}

std::shared_ptr<ZVAudioConverter> ZVFFmpegMediaToolkit::createAudioConverter(
    const ZVAudioStreamDescription& source, const ZVAudioStreamDescription& destination,
    long* error) {
    return ZVFFmpegAudioConverter::create(source, destination, error);
}

std::shared_ptr<ZVMovieMuxer> ZVFFmpegMediaToolkit::createMovieMuxer(const std::string& path,
                                                                     ZVMovieContainer container,
                                                                     long* error) {
    return ZVFFmpegMovieMuxer::create(path, container, error);
}

std::unique_ptr<ZVPictureScaler> ZVFFmpegMediaToolkit::createPictureScaler() {
    return std::make_unique<ZVFFmpegViewScaler>();
}
