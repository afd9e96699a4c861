#include "Platform/FFmpeg/ZVFFmpegCompressionSession.h"

std::shared_ptr<ZVCompressionSession> ZVFFmpegCompressionSession::create(
    int32_t, int32_t, uint32_t, int32_t, const ZVCompressionSessionOptions&,
    ZVCompressionOutputCallback, long* error) {
    if (error) *error = kZVMediaErrUnsupported;
    return nullptr;
}

bool ZVFFmpegCompressionSession::supportsCodec(uint32_t) {
    return false;
}
