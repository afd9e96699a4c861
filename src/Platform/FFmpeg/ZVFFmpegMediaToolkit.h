#pragma once
#include "ZVPrivate.h"  // library-internal

// The media toolkit over libavcodec and libswscale.
#include <memory>

#include "Media/ZVMediaToolkit.h"

// Made once by the platform defaults (and by tests that use it alone).
class ZVFFmpegMediaToolkit : public ZVMediaToolkit {
  public:
    // Keeps the encoders' own progress and statistics lines off the host's standard error;
    // only their errors are written. Any thread.
    ZVFFmpegMediaToolkit();
    std::shared_ptr<ZVCompressionSession> createCompressionSession(
        int32_t width, int32_t height, uint32_t codecType, int32_t timeScale,
        const ZVCompressionSessionOptions& options, ZVCompressionOutputCallback output,
        long* error) override;
    bool supportsVideoCodec(uint32_t codecType) override;
    std::shared_ptr<ZVAudioConverter> createAudioConverter(
        const ZVAudioStreamDescription& source, const ZVAudioStreamDescription& destination,
        long* error) override;
    std::shared_ptr<ZVMovieMuxer> createMovieMuxer(const std::string& path,
                                                   ZVMovieContainer container,
                                                   long* error) override;
    std::unique_ptr<ZVPictureScaler> createPictureScaler() override;
};
