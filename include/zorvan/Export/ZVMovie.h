#pragma once
// The movie writer: writes the exported movie file, one video track and up to two sound
// tracks (microphone, system audio), each fed by a writer thread of its own from its own
// data source. The muxer behind it serialises the three writers' appends and interleaves
// the tracks in the file. Sound tracks are placed against the video by the recorders'
// start offsets (an edit: nothing is cut), as they are when each sound writer starts.
//
// Order of use (main thread): initWithPreset -> createMovieAtPath -> create the tracks
// (and add the movie's text) -> set sources, delegate and the three offsets -> start the
// writers -> each ends at the end
// of its source's stream (or once finalized and its source is empty) -> after every
// started writer posted its did-stop, closeMovie.
//
// Notifications (object: the writer), each posted by its writer as its last act:
// ZVMovieDidStopWritingVideoNotification (with {"Error"} after a failed append),
// ZVMovieDidStopWritingAudioNotification, ZVMovieDidStopWritingSystemAudioNotification.
#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "Foundation/ZVGeometry.h"
#include "Media/ZVAudioBuffers.h"
#include "Media/ZVEncodingPreset.h"
#include "Media/ZVMovieText.h"
#include "Pipeline/ZVStage.h"
#include "Pipeline/ZVWorker.h"
#include "Platform/ZVPlatformDefaults.h"

class ZVEncodedSoundPacket;
class ZVMovieMuxer;
class ZVMediaToolkit;

// The movie's track inputs, each written by a writer thread of its own.
enum class ZVMovieInput { Video = 0, Audio = 1, SystemAudio = 2 };

class ZVMovie;

// The stage's notifications; each value is its own name (hosts match on the text).
inline constexpr std::string_view ZVMovieDidStopWritingVideoNotification =
    "ZVMovieDidStopWritingVideoNotification";
inline constexpr std::string_view ZVMovieDidStopWritingAudioNotification =
    "ZVMovieDidStopWritingAudioNotification";
inline constexpr std::string_view ZVMovieDidStopWritingSystemAudioNotification =
    "ZVMovieDidStopWritingSystemAudioNotification";

// What the stage tells its delegate, on the main thread; every call does nothing by default.
class ZVMovieDelegateInfromalProtocol {
  public:
    virtual ~ZVMovieDelegateInfromalProtocol() = default;
    virtual void ZVMovieDidStopWritingAudio(ZVMovie*) {}
    virtual void ZVMovieDidStopWritingVideo(ZVMovie*) {}
    virtual void ZVMovieDidStopWritingSystemAudio(ZVMovie*) {}
};

class ZVMovie : public ZVStage {
  public:
    // A movie writer that makes its file through the services' media toolkit. Main thread.
    static std::shared_ptr<ZVMovie> initWithPreset(
        const ZVEncodingPreset& preset, const ZVPlatformServices& services = ZVPlatformDefaults());

    // 0, or -1 after a log line. `container` is the kind of file, whatever the path's
    // extension. Main thread.
    int32_t createMovieAtPath(const std::string& path,
                              ZVMovieContainer container = ZVMovieContainer::QuickTime);
    // The time scale from the video settings (frame rate x 100, else 2500). Main thread.
    int32_t createVideoTrackWithInitialSize(ZVSize recordedSize);
    int32_t createVideoTrackWithInitialSize(ZVSize recordedSize, int32_t timeScale);
    // Takes the description (from the track's sound encoder) on success. Main thread.
    int32_t createSoundTrack(ZVMovieInput input, std::unique_ptr<ZVSoundDescription> d);
    int32_t createAudioTrackWithAudioDescriptionHandle(std::unique_ptr<ZVSoundDescription> d) {
        return createSoundTrack(ZVMovieInput::Audio, std::move(d));
    }
    int32_t createSystemAudioTrackWithAudioDescriptionHandle(
        std::unique_ptr<ZVSoundDescription> d) {
        return createSoundTrack(ZVMovieInput::SystemAudio, std::move(d));
    }

    // The recording's input as data in the movie, times on the screen's clock (the video
    // track's): a text track of `text.keys` (none when empty) whose samples are all known
    // now, so it never holds the other tracks back, and `text.chapters`. Before any writer
    // starts; 0, or -1 after a log line (a GIF holds neither). Main thread.
    int32_t addMovieText(const ZVMovieText& text);

    // Borrowed; the host keeps it alive while the writer runs. Any thread.
    void setDataSource(ZVMovieInput input, ZVDataSource* s) { at(input).source.store(s); }
    // A start offset in seconds. A sound track's place is fixed when its writer starts
    // (its samples go into the file while the others are written): set the video's and
    // the sound's offsets before that; a later change is not seen. Any thread.
    void setTrackOffset(ZVMovieInput input, double s) { at(input).offset = s; }
    // As every stage, per writer. A writer ends at the end of its source's stream, or
    // after finalize once its source is empty; the video writer's finalize takes effect
    // even before it starts, a sound writer's only once started. Any thread.
    void startWriting(ZVMovieInput input);
    void stopWriting(ZVMovieInput input) { at(input).worker.stop(); }
    void pauseWriting(ZVMovieInput input, bool p) { at(input).worker.pause(p); }
    void finalizeWriting(ZVMovieInput input);

    // The same per track, by the names hosts have always used. Any thread.
    void setVideoDataSource(ZVDataSource* s) { setDataSource(ZVMovieInput::Video, s); }
    void setAudioDataSource(ZVDataSource* s) { setDataSource(ZVMovieInput::Audio, s); }
    void setSystemAudioDataSource(ZVDataSource* s) { setDataSource(ZVMovieInput::SystemAudio, s); }
    void setVideoTrackOffset(double s) { setTrackOffset(ZVMovieInput::Video, s); }
    void setAudioTrackOffset(double s) { setTrackOffset(ZVMovieInput::Audio, s); }
    void setSystemAudioTrackOffset(double s) { setTrackOffset(ZVMovieInput::SystemAudio, s); }
    void startVideoTrackWriting() { startWriting(ZVMovieInput::Video); }
    void startAudioTrackWriting() { startWriting(ZVMovieInput::Audio); }
    void startSystemAudioTrackWriting() { startWriting(ZVMovieInput::SystemAudio); }
    void stopVideoTrackWriting() { stopWriting(ZVMovieInput::Video); }
    void stopAudioTrackWriting() { stopWriting(ZVMovieInput::Audio); }
    void stopSystemAudioTrackWriting() { stopWriting(ZVMovieInput::SystemAudio); }
    void pauseVideoTrackWriting(bool p) { pauseWriting(ZVMovieInput::Video, p); }
    void pauseAudioTrackWriting(bool p) { pauseWriting(ZVMovieInput::Audio, p); }
    void pauseSystemAudioTrackWriting(bool p) { pauseWriting(ZVMovieInput::SystemAudio, p); }
    void finalizeVideo() { finalizeWriting(ZVMovieInput::Video); }
    void finalizeAudio() { finalizeWriting(ZVMovieInput::Audio); }
    void finalizeSystemAudio() { finalizeWriting(ZVMovieInput::SystemAudio); }
    void updateMovie() {}

    void setDelegate(ZVMovieDelegateInfromalProtocol* d) { _delegate.store(d); }
    ZVMovieDelegateInfromalProtocol* delegate() const { return _delegate.load(); }

    // Writes the movie's index and closes the file: after every started writer stopped.
    // Always 0; closeStatus() tells whether the file was written. Main thread.
    int32_t closeMovie();
    long closeStatus() const { return _closeStatus; }

  private:
    struct TrackInput {
        ZVWorker worker;
        std::atomic<ZVDataSource*> source{nullptr};
        int32_t track = -1;
        std::atomic<double> offset{0};
        ZVAudioStreamDescription format;
    };
    explicit ZVMovie(const ZVEncodingPreset& preset);
    TrackInput& at(ZVMovieInput input) { return _inputs[static_cast<size_t>(input)]; }
    // The writer of one input. Worker only.
    void trackWriter(ZVMovieInput input);
    // What the video writer does after its last frame; `failed`: the append error.
    void finishVideo(long failed);
    void appendSound(TrackInput& w, const ZVEncodedSoundPacket& packet);

    std::shared_ptr<const ZVEncodingPreset> _preset;
    std::shared_ptr<ZVMovieMuxer> _movie;
    std::string _path;                         // of the movie file, for messages
    std::shared_ptr<ZVMediaToolkit> _toolkit;  // set by initWithPreset; makes _movie
    std::array<TrackInput, 3> _inputs;
    long _closeStatus = 0;
    std::atomic<ZVMovieDelegateInfromalProtocol*> _delegate{nullptr};
};
