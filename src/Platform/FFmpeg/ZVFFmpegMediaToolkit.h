#pragma once
#include "ZVPrivate.h"  // library-internal

// The media toolkit over libavcodec and libswscale.
#include <memory>

#include "Media/ZVMediaToolkit.h"

// Installs the FFmpeg toolkit as ZVMediaToolkit::shared(). Called once by the platform
// defaults at start-up (and by tests); calling it again does no harm. Any thread.
void ZVRegisterFFmpegMediaToolkit();

class ZVFFmpegMediaToolkit : public ZVMediaToolkit {
  public:
    std::shared_ptr<ZVCompressionSession> createCompressionSession(
        int32_t width, int32_t height, uint32_t codecType, int32_t timeScale,
        const ZVCompressionSessionOptions& options, ZVCompressionOutputCallback output,
        long* error) override;
    bool supportsVideoCodec(uint32_t codecType) override;
    std::shared_ptr<ZVAudioConverter> createAudioConverter(
        const ZVAudioStreamDescription& source, const ZVAudioStreamDescription& destination,
        long* error) override;
    std::shared_ptr<ZVMovieMuxer> createMovieMuxer(const std::string& path, long* error) override;
};
