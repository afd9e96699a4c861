#pragma once
// The compression session over libavcodec: pictures are converted and fitted with
// libswscale on the caller's thread (so the source goes back at once), then encoded on the
// session's own thread, which also calls the output callback.
#include <memory>

#include "Media/ZVCompressionSession.h"

class ZVFFmpegCompressionSession : public ZVCompressionSession {
  public:
    static std::shared_ptr<ZVCompressionSession> create(int32_t width, int32_t height,
                                                        uint32_t codecType, int32_t timeScale,
                                                        const ZVCompressionSessionOptions& options,
                                                        ZVCompressionOutputCallback output,
                                                        long* error);
    // Whether the codec library has an encoder for the codec. Any thread.
    static bool supportsCodec(uint32_t codecType);
};
