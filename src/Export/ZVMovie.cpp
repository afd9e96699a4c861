#include "Export/ZVMovie.h"

#include <algorithm>
#include <cmath>

#include "Foundation/ZVAlert.h"
#include "Foundation/ZVLog.h"
#include "Media/ZVCodecSettings.h"
#include "Media/ZVEncodedMovieFrame.h"
#include "Media/ZVEncodedSoundPacket.h"
#include "Media/ZVMovieMuxer.h"

namespace {
constexpr const char* kVideoWriterTitle = "-[ZVMovie videoTrackWriter]";

int32_t truncatedRate(double rate) {
    return std::isfinite(rate) && rate >= 1 && rate < INT32_MAX ? static_cast<int32_t>(rate) : 0;
}
}  // namespace

ZVMovie::ZVMovie(const ZVEncodingPreset& preset)
    : _preset(std::make_shared<const ZVEncodingPreset>(preset)) {}

std::shared_ptr<ZVMovie> ZVMovie::initWithPreset(const ZVEncodingPreset& preset,
                                                 const ZVPlatformServices& services) {
    auto m = std::shared_ptr<ZVMovie>(new ZVMovie(preset));
    m->_toolkit = services.mediaToolkit;
    ZVCodecSettings sound(ZVCodecSettingsKind::sound);
    if (auto handle = m->_preset->soundSettings()) sound.load(*handle);
    m->at(ZVMovieInput::Audio).format = m->at(ZVMovieInput::SystemAudio).format =
        sound.outputDescription();

    using D = ZVMovieDelegateInfromalProtocol;
    ZVMovie* raw = m.get();
    auto forward = [&](std::string_view name, void (D::*op)(ZVMovie*)) {
        m->forwardToDelegate(name, [raw, op](const ZVNotification&) {
            if (D* d = raw->delegate()) (d->*op)(raw);
        });
    };
    forward(ZVMovieDidStopWritingVideoNotification, &D::ZVMovieDidStopWritingVideo);
    forward(ZVMovieDidStopWritingAudioNotification, &D::ZVMovieDidStopWritingAudio);
    forward(ZVMovieDidStopWritingSystemAudioNotification, &D::ZVMovieDidStopWritingSystemAudio);
    return m;
}

int32_t ZVMovie::createMovieAtPath(const std::string& path, ZVMovieContainer container) {
    long error = 0;
    _path = path;
    _movie = ZVMovieMuxer::create(_toolkit.get(), path, &error, container);
    if (!_movie) {
        ZVLog("CreateMovieStorage() failed with error %i", static_cast<int>(error));
        return -1;
    }
    return 0;
}

int32_t ZVMovie::createVideoTrackWithInitialSize(ZVSize recordedSize) {
    ZVCodecSettings video(ZVCodecSettingsKind::video);
    video.setPreferenceFlags(kZVVideoSettingsPreferenceFlags);
    if (auto handle = _preset->videoSettings()) video.load(*handle);
    const double rate = ZVFixedToDouble(video.frameRate());
    const int32_t scale = rate > 0 ? truncatedRate(rate * 100) : 2500;
    return createVideoTrackWithInitialSize(recordedSize, scale > 0 ? scale : 2500);
}

int32_t ZVMovie::createVideoTrackWithInitialSize(ZVSize recordedSize, int32_t timeScale) {
    const ZVOutputSize size = _preset->outputSizeForRecordedSize(recordedSize);
    long error = kZVMediaErrParam;
    TrackInput& video = at(ZVMovieInput::Video);
    video.track = _movie ? _movie->newVideoTrack(size.width, size.height, timeScale, &error) : -1;
    if (video.track < 0) {
        ZVLog("NewMovieTrack() failed with error %i", static_cast<int>(error));
        return -1;
    }
    return 0;
}

int32_t ZVMovie::createSoundTrack(ZVMovieInput input, std::unique_ptr<ZVSoundDescription> d) {
    if (!_movie || !d) {
        ZVLog("NewMovieTrack() failed with error %i", static_cast<int>(kZVMediaErrParam));
        return -1;
    }
    TrackInput& w = at(input);
    // One media time unit is one frame of the output.
    const double rate = d->format.sampleRate > 0 ? d->format.sampleRate : w.format.sampleRate;
    long error = kZVMediaErrParam;
    const int32_t track = _movie->newSoundTrack(*d, truncatedRate(rate), &error);
    if (track < 0) {
        ZVLog("%sNewTrackMedia() failed with error %i",
              input == ZVMovieInput::SystemAudio ? "syssnd: " : "", static_cast<int>(error));
        return -1;
    }
    w.track = track;
    w.format = d->format;
    return 0;
}

int32_t ZVMovie::addMovieText(const ZVMovieText& text) {
    // Finer than any other track's: the QuickTime muxer ends a text when a sample of any
    // track passes its end, comparing their time stamps without their scales.
    constexpr int32_t kTextTimeScale = 192000;
    const auto ticks = [](double seconds) { return std::llround(seconds * kTextTimeScale); };
    long error = _movie ? kZVMediaNoErr : kZVMediaErrParam;
    if (_movie && !text.chapters.empty()) {
        // Players read a chapter list from the movie's start: the first chapter is there.
        std::vector<ZVChapterMark> chapters = text.chapters;
        if (chapters.front().time > 0) chapters.insert(chapters.begin(), {0, "Start"});
        error = _movie->setChapters(chapters);
    }
    if (_movie && !text.keys.empty() && error == kZVMediaNoErr) {
        const int32_t track = _movie->newTextTrack(kTextTimeScale, &error);
        for (const ZVTimedText& t : text.keys) {
            if (track < 0 || error != kZVMediaNoErr) break;
            if (t.end > t.start && t.start >= 0)
                error = _movie->addTextSample(track, ticks(t.start), ticks(t.end) - ticks(t.start),
                                              t.text);
        }
        if (track >= 0 && error == kZVMediaNoErr) error = _movie->finishTrack(track);
    }
    if (error == kZVMediaNoErr) return 0;
    ZVLog("%s: the movie cannot hold the key track and chapters (error %ld)", _path.c_str(), error);
    return -1;
}

void ZVMovie::startWriting(ZVMovieInput input) {
    TrackInput& w = at(input);
    if (!w.worker.claimLaunch()) return;
    static constexpr std::string_view kDidStop[] = {ZVMovieDidStopWritingVideoNotification,
                                                    ZVMovieDidStopWritingAudioNotification,
                                                    ZVMovieDidStopWritingSystemAudioNotification};
    const std::string_view didStop = kDidStop[static_cast<size_t>(input)];
    // Only the video writer fails, and only its did-stop carries the failure.
    if (input == ZVMovieInput::Video) clearFailure();
    // The sound's place, before its first sample; a host's later offset would come too
    // late for samples already in the file. Its result is not checked: the video writer
    // reports the movie's failures.
    if (input != ZVMovieInput::Video && _movie) {
        const double videoOffset = at(ZVMovieInput::Video).offset.load();
        _movie->setTrackStart(w.track, std::max(0.0, w.offset.load() - videoOffset));
    }
    w.worker.launch(
        owner(), [this, input] { trackWriter(input); },
        [this, input, didStop] {
            input == ZVMovieInput::Video ? postDidStop(didStop) : post(didStop);
        },
        [&w] { w.worker.stop(); });
}

void ZVMovie::finalizeWriting(ZVMovieInput input) {
    TrackInput& w = at(input);
    if (input == ZVMovieInput::Video || w.worker.isLaunched()) w.worker.finalize();
}

void ZVMovie::trackWriter(ZVMovieInput input) {
    TrackInput& w = at(input);
    w.worker.running();
    ZVDataSource* given = w.source.load();
    ZVDataSource none;
    ZVDataSource& source = given ? *given : none;
    const bool video = input == ZVMovieInput::Video;
    long failed = 0;
    w.worker.loop([&] {
        return w.worker.consume(source, [&](ZVObjectRef object) {
            if (!video) {
                if (auto packet = std::dynamic_pointer_cast<ZVEncodedSoundPacket>(object))
                    appendSound(w, *packet);
                return;
            }
            auto frame = std::dynamic_pointer_cast<ZVEncodedMovieFrame>(std::move(object));
            if (!frame || !frame->encodedFrame() || frame->encodedFrame()->decodeDuration() <= 0)
                return;  // no time of its own: skipped
            const long error =
                _movie ? _movie->addVideoSample(w.track, frame->encodedFrame()) : kZVMediaErrParam;
            if (error == kZVMediaNoErr) return;
            ZVLog("AddMediaSampleFromEncodedFrame() failed with error %i", static_cast<int>(error));
            failed = error;
            w.worker.requestStop();
        });
    });
    if (video) return finishVideo(failed);
    // Sound append and finish results are not checked: the video writer reports the disk.
    if (_movie) _movie->finishTrack(w.track);
}

void ZVMovie::finishVideo(long failed) {
    if (failed) {
        const char* message = failed == kZVMediaErrDiskFull
                                  ? "Disk is possibly full"
                                  : "Failed to add encoded frame to the movie";
        fail(message);
        ZVRunAlertPanel(kVideoWriterTitle, message);
    }
    const int32_t track = at(ZVMovieInput::Video).track;
    const long error = _movie ? _movie->finishTrack(track) : kZVMediaErrParam;
    if (error != kZVMediaNoErr) {
        ZVLog("InsertMediaIntoTrack() failed with error %i", static_cast<int>(error));
        if (error == kZVMediaErrInvalidDuration) {
            fail("Failed to add track media into the movie");
            ZVRunAlertPanel("Failed to add track media into the movie",
                            "It appears that this record could not be encoded with the selected "
                            "codec. Please, try to encode again with another one.");
        }
    }
}

void ZVMovie::appendSound(TrackInput& w, const ZVEncodedSoundPacket& packet) {
    if (!_movie || packet.bufferList().empty()) return;
    const ZVAudioBuffer& buffer = packet.bufferList()[0];
    const auto* data = static_cast<const uint8_t*>(buffer.mData);
    const ZVAudioStreamPacketDescription* descriptions = packet.packetDescription();
    if (!descriptions) {
        // Constant bit rate: one run of samples.
        if (w.format.bytesPerPacket == 0) return;
        const uint32_t count =
            buffer.mDataByteSize / w.format.bytesPerPacket * w.format.framesPerPacket;
        if (count) _movie->addSoundSamples(w.track, data, buffer.mDataByteSize, 1, count);
        return;
    }
    for (uint32_t i = 0; i < packet.numberOfPackets(); ++i) {
        const ZVAudioStreamPacketDescription& p = descriptions[i];
        if (p.mStartOffset < 0 || p.mStartOffset + int64_t{p.mDataByteSize} > buffer.mDataByteSize)
            continue;  // outside the buffer
        const uint32_t frames =
            p.mVariableFramesInPacket ? p.mVariableFramesInPacket : w.format.framesPerPacket;
        _movie->addSoundSamples(w.track, data + p.mStartOffset, p.mDataByteSize, frames, 1);
    }
}

int32_t ZVMovie::closeMovie() {
    _closeStatus = _movie ? _movie->close() : kZVMediaErrParam;
    if (_closeStatus != kZVMediaNoErr)
        ZVLog("CloseMovieStorage() failed with error %i", static_cast<int>(_closeStatus));
    return 0;
}
