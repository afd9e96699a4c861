#pragma once
// The movie writer: writes the exported movie file, one video track and up to two sound
// tracks (microphone, system audio), each fed by a writer thread of its own from its own
// data source. The muxer behind it serialises the three writers' appends. Sound tracks
// are placed against the video by the recorders' start offsets (an edit: nothing is cut),
// as they are when each sound writer ends.
//
// Order of use (main thread): initWithPreset -> createMovieAtPath -> create the tracks ->
// set sources, delegate and the three offsets -> start the writers -> finalize them once
// their upstream stages are done -> after every started writer posted its did-stop,
// closeMovie.
//
// Notifications (object: the writer), each posted by its writer as its last act:
// ZVMovieDidStopWritingVideoNotification (with {"Error"} after a failed append),
// ZVMovieDidStopWritingAudioNotification, ZVMovieDidStopWritingSystemAudioNotification.
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "Foundation/ZVGeometry.h"
#include "Media/ZVAudioBuffers.h"
#include "Media/ZVEncodingPreset.h"
#include "Media/ZVMovieMuxer.h"
#include "Pipeline/ZVDelegates.h"
#include "Pipeline/ZVStage.h"
#include "Pipeline/ZVWorker.h"
#include "Platform/ZVPlatformDefaults.h"

class ZVEncodedSoundPacket;
class ZVMediaToolkit;

class ZVMovie : public ZVStage {
  public:
    // A movie writer that makes its file through the services' media toolkit. Main thread.
    static std::shared_ptr<ZVMovie> initWithPreset(
        const ZVEncodingPreset& preset, const ZVPlatformServices& services = ZVPlatformDefaults());

    // 0, or -1 after a log line. Main thread.
    int32_t createMovieAtPath(const std::string& path);
    // The time scale from the video settings (frame rate x 100, else 2500). Main thread.
    int32_t createVideoTrackWithInitialSize(ZVSize recordedSize);
    int32_t createVideoTrackWithInitialSize(ZVSize recordedSize, int32_t timeScale);
    // Take the description (from the track's sound encoder) on success. Main thread.
    int32_t createAudioTrackWithAudioDescriptionHandle(std::unique_ptr<ZVSoundDescription> d);
    int32_t createSystemAudioTrackWithAudioDescriptionHandle(std::unique_ptr<ZVSoundDescription> d);

    // Borrowed; the host keeps them alive while the writers run. Any thread.
    void setVideoDataSource(ZVDataSource* s) { _video.source.store(s); }
    void setAudioDataSource(ZVDataSource* s) { _audio.source.store(s); }
    void setSystemAudioDataSource(ZVDataSource* s) { _systemAudio.source.store(s); }
    void setDelegate(ZVMovieDelegateInfromalProtocol* d) { _delegate.store(d); }
    ZVMovieDelegateInfromalProtocol* delegate() const { return _delegate.load(); }
    // Start offsets in seconds, read when a sound writer ends and inserts its media: set
    // any time before that. Any thread.
    void setVideoTrackOffset(double s) { _videoOffset = s; }
    void setAudioTrackOffset(double s) { _audio.offset = s; }
    void setSystemAudioTrackOffset(double s) { _systemAudio.offset = s; }

    // As every stage, one set per writer. finalizeVideo takes effect even before the video
    // writer starts; the sound writers' finalize only once started. Any thread.
    void startVideoTrackWriting();
    void startAudioTrackWriting();
    void startSystemAudioTrackWriting();
    void stopVideoTrackWriting() { _video.worker.stop(); }
    void stopAudioTrackWriting() { _audio.worker.stop(); }
    void stopSystemAudioTrackWriting() { _systemAudio.worker.stop(); }
    void pauseVideoTrackWriting(bool p) { _video.worker.pause(p); }
    void pauseAudioTrackWriting(bool p) { _audio.worker.pause(p); }
    void pauseSystemAudioTrackWriting(bool p) { _systemAudio.worker.pause(p); }
    void finalizeVideo() { _video.worker.finalize(); }
    void finalizeAudio();
    void finalizeSystemAudio();
    void updateMovie() {}

    // Writes the movie's index and closes the file: after every started writer stopped.
    // Always 0; closeStatus() tells whether the file was written. Main thread.
    int32_t closeMovie();
    long closeStatus() const { return _closeStatus; }

  private:
    struct Writer {
        ZVWorker worker;
        std::atomic<ZVDataSource*> source{nullptr};
        int32_t track = -1;
        std::atomic<double> offset{0};
        ZVAudioStreamDescription format;
    };
    explicit ZVMovie(const ZVEncodingPreset& preset);
    int32_t createSoundTrack(Writer& w, std::unique_ptr<ZVSoundDescription> d, const char* what);
    void videoTrackWriter();
    void audioTrackWriter(Writer& w);
    void appendSound(Writer& w, const ZVEncodedSoundPacket& packet);
    void startSoundWriter(Writer& w, std::string_view didStop);

    std::shared_ptr<const ZVEncodingPreset> _preset;
    std::shared_ptr<ZVMovieMuxer> _movie;
    std::shared_ptr<ZVMediaToolkit> _toolkit;  // set by initWithPreset; makes _movie
    Writer _video;
    Writer _audio;
    Writer _systemAudio;
    std::atomic<double> _videoOffset{0};
    long _closeStatus = 0;
    std::atomic<ZVMovieDelegateInfromalProtocol*> _delegate{nullptr};
};
