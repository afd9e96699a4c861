#include "Media/ZVMediaToolkit.h"

std::shared_ptr<ZVCompressionSession> ZVCompressionSession::create(
    ZVMediaToolkit* toolkit, int32_t width, int32_t height, uint32_t codecType, int32_t timeScale,
    const ZVCompressionSessionOptions& options, ZVCompressionOutputCallback output, long* error) {
    if (!toolkit) {
        if (error) *error = kZVMediaErrNoToolkit;
        return nullptr;
    }
    long status = kZVMediaNoErr;
    auto session = toolkit->createCompressionSession(width, height, codecType, timeScale, options,
                                                     std::move(output), &status);
    if (error) *error = session ? kZVMediaNoErr : (status ? status : kZVMediaErrEncoder);
    return session;
}

std::shared_ptr<ZVAudioConverter> ZVAudioConverter::create(
    ZVMediaToolkit* toolkit, const ZVAudioStreamDescription& source,
    const ZVAudioStreamDescription& destination, long* error) {
    long status = kZVMediaErrNoToolkit;
    std::shared_ptr<ZVAudioConverter> converter;
    if (toolkit) {
        status = kZVMediaNoErr;
        converter = toolkit->createAudioConverter(source, destination, &status);
    }
    if (error) *error = converter ? kZVMediaNoErr : (status ? status : kZVMediaErrUnsupported);
    return converter;
}

std::shared_ptr<ZVMovieMuxer> ZVMovieMuxer::create(ZVMediaToolkit* toolkit, const std::string& path,
                                                   long* error, ZVMovieContainer container) {
    long status = kZVMediaErrNoToolkit;
    std::shared_ptr<ZVMovieMuxer> muxer;
    if (toolkit) {
        status = kZVMediaNoErr;
        muxer = toolkit->createMovieMuxer(path, container, &status);
    }
    if (error) *error = muxer ? kZVMediaNoErr : (status ? status : kZVMediaErrEncoder);
    return muxer;
}
