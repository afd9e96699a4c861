#pragma once
#include "ZVPrivate.h"  // library-internal

// The seam between the media classes and the codec library that implements them. The
// platform's implementation (FFmpeg) comes in the platform services; a test may hand in
// its own. Without one, sessions cannot be made (kZVMediaErrNoToolkit).
#include <cstdint>
#include <memory>

#include "Media/ZVAudioConverter.h"
#include "Media/ZVCompressionSession.h"
#include "Media/ZVMovieMuxer.h"
#include "Media/ZVPictureScaler.h"

class ZVMediaToolkit {
  public:
    virtual ~ZVMediaToolkit() = default;

    // See ZVCompressionSession::create. Any thread.
    virtual std::shared_ptr<ZVCompressionSession> createCompressionSession(
        int32_t width, int32_t height, uint32_t codecType, int32_t timeScale,
        const ZVCompressionSessionOptions& options, ZVCompressionOutputCallback output,
        long* error) = 0;
    // Whether sessions of this codec can be made. Any thread.
    virtual bool supportsVideoCodec(uint32_t codecType) = 0;
    // See ZVAudioConverter::create. Any thread.
    virtual std::shared_ptr<ZVAudioConverter> createAudioConverter(
        const ZVAudioStreamDescription& source, const ZVAudioStreamDescription& destination,
        long* error) = 0;
    // See ZVMovieMuxer::create. Any thread.
    virtual std::shared_ptr<ZVMovieMuxer> createMovieMuxer(const std::string& path,
                                                           ZVMovieContainer container,
                                                           long* error) = 0;
    // A scaler for the export camera and the cursor drawn larger; none where the toolkit
    // has no scaler (the camera then shows the whole picture). Any thread.
    virtual std::unique_ptr<ZVPictureScaler> createPictureScaler() { return nullptr; }
};
