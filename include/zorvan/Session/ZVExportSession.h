#pragma once
// An export in progress: a recording (package or plain capture file) played back through
// the compressor into a movie, with one or two sound tracks encoded beside it and placed
// by the recorders' start offsets. This is the wiring every host needs:
//
//   capture-file reader -> queue -> ZVICM -> queue -> ZVMovie (video)
//   WAV reader -> queue -> ZVSoundEncoder -> queue -> ZVMovie (sound, up to two)
//
// Each reader puts the end of the stream after its last item and every stage passes it
// on, so a slow reader never looks like an empty source; the export is complete when the
// last movie writer has stopped. The movie is written under a temporary name in the folder of
// its final path (beside the package, or the path asked for), so that the rename that
// puts it in place when every movie writer is done never crosses a file system; then
// did-finish is posted. A preset without video makes a movie of the sound tracks alone.
//
// A capture file whose writer never finished (a crash, or a recording still running) is
// exported up to its last whole record, and notice() says so.
//
// Notifications (object: the session), posted on the main thread:
// ZVExportSessionDidFinishNotification, with {"Error": reason} when the export failed or
// was cancelled (then no movie is left behind).
//
// Ownership: held by std::shared_ptr; while it runs it holds itself (and so every stage
// and queue), and then the main-thread hand-off keeps it alive until did-finish.
#include <atomic>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Export/ZVZoomPlan.h"
#include "Foundation/ZVGeometry.h"
#include "Foundation/ZVMutex.h"
#include "Media/ZVEncodingPreset.h"
#include "Media/ZVMediaTypes.h"
#include "Platform/ZVPlatformDefaults.h"
#include "Storage/ZVFomixFormat.h"

class ZVFomixXManager;
class ZVFomixIO;
class ZVICM;
class ZVMovie;
class ZVQueue;
class ZVSoundEncoder;
class ZVStage;
class ZVWavIO;

inline constexpr std::string_view ZVExportSessionDidFinishNotification =
    "ZVExportSessionDidFinishNotification";

class ZVExportSession : public std::enable_shared_from_this<ZVExportSession> {
  public:
    struct Progress {
        int64_t framesDone = 0;
        int64_t framesTotal = 0;
        double speed = 0;        // recorded seconds exported per second of export
        double secondsLeft = 0;  // estimated; 0 while unknown
    };

    // An export of the recording at `path` with `preset` (copied). nullptr with one clear
    // line in *error when the recording has no screen track that can be read. The stages
    // are made over `services`. Main thread.
    static std::shared_ptr<ZVExportSession> create(
        const std::string& path, const ZVEncodingPreset& preset, std::string* error,
        const ZVPlatformServices& services = ZVPlatformDefaults());
    ~ZVExportSession();

    // Where the movie ends up, replacing what is there; by default beside the recording
    // ("<name>.mov", the first free name, never replacing anything). Its extension chooses
    // the kind of file: ".mov" QuickTime, ".mp4" MP4 (both with the preset's codecs), ".webm"
    // VP9 and Opus, ".gif" an animated GIF without sound, at most 15 frames a second unless
    // the preset gives a rate; start refuses any other. Main thread, before start.
    void setOutputPath(const std::string& path) { _outputPath = path; }
    // The export camera: "off", "auto" (the plan the recording's clicks and typing give,
    // at the preset's zoom level and hold) or the path of a plan file ('zorvan zoom' writes
    // one). Without a choice, the preset's "Zoom" decides. A plan file that cannot be read
    // or does not fit the recording is refused with one line naming the file and the
    // segment; nothing is written then. Main thread, before start.
    std::string setZoom(const std::string& choice);
    // A plan the host made for this recording (none: the camera shows every frame whole).
    // Main thread, before start.
    void setZoomPlan(std::shared_ptr<const ZVZoomPlan> plan);
    const std::shared_ptr<const ZVZoomPlan>& zoomPlan() const { return _zoomPlan; }
    // One line for the user about what is exported of a recording that was not closed;
    // empty when the recording is whole. Main thread.
    const std::string& notice() const { return _notice; }

    // Builds and starts every stage; one clear line when it cannot (a folder that cannot
    // take the movie is found here, before anything is encoded): nothing then runs, no
    // movie is left and the session is finished at once with that line (no did-finish is
    // posted). Main thread.
    std::string start();
    // Stops every stage without waiting; did-finish follows with an error. Any thread.
    void cancel();
    // Any thread.
    Progress progress() const;

    // Drains the main run loop until did-finish or the timeout; the failure (empty when
    // none). Main thread.
    std::string waitUntilFinished(double timeoutSeconds);
    bool isFinished() const { return _finished; }
    const std::string& finishError() const { return _finishError; }
    // The finished movie's path (empty until did-finish without an error). Main thread.
    const std::string& moviePath() const { return _moviePath; }
    // How long the finished movie plays, in seconds: from its first track's start to its
    // last one's end. Main thread.
    double movieLength() const;

  private:
    struct SoundTrack;
    ZVExportSession() = default;
    ZVPlatformServices _services;  // set by create, handed to every stage it makes
    // Makes every stage, the movie and its tracks; the first failure, or empty.
    std::string build();
    // The screen's chain: capture-file reader, compressor, the movie's video track.
    std::string buildVideo();
    // Takes the header of the whole records of a capture file without one; the reason
    // it cannot be exported otherwise. Main thread.
    std::string takeUnclosedCapture(ZVFomixFileInfo& info);
    // Chooses the final path and makes the temporary file beside it. Main thread.
    std::string prepareMoviePath();
    // Renames the finished movie to its final path; the failure, or empty. Main thread.
    std::string placeMovie();
    // After a failed build: removes the movie begun and finishes with `why`. Main thread.
    void abandon(const std::string& why);
    std::string addSoundTrack(int kind, const std::string& wavPath);
    // The key track and chapters, when the preset shows keys and wants them. Main thread.
    void addMovieText();
    // After the last stage stopped: closes the movie and hands did-finish to the main
    // thread. That stage's worker thread.
    void complete();
    bool failed() const;
    // Moves the movie into place and posts did-finish. Main thread.
    void finish(std::string failure);
    // Registers an observer that notes a failure of `stage`'s stop, and completes the
    // export after the last stage's stop: the queues between them live as long as the
    // session, so none may still be waiting on one when the session goes.
    void watchStop(const void* stage, std::string_view name);
    void noteFailure(const std::string& why);
    void stopAll();

    std::shared_ptr<const ZVEncodingPreset> _preset;
    std::string _recordingPath;
    std::shared_ptr<ZVFomixXManager> _package;
    std::shared_ptr<const ZVZoomPlan> _zoomPlan;
    bool _zoomChosen = false;  // setZoom or setZoomPlan was called
    std::string _capturePath;
    std::string _outputPath;
    std::string _finalPath;      // where the movie goes
    std::string _temporaryPath;  // where it is written until it is whole
    ZVMovieContainer _container = ZVMovieContainer::QuickTime;  // as the final path says
    std::optional<ZVFomixFileInfo> _assumedHeader;              // for a capture file never closed
    std::string _notice;
    bool _withVideo = true;
    ZVSize _recordedSize;  // the capture file's first picture size, read by create
    double _videoOffset = 0;
    double _duration = 0;
    int64_t _framesTotal = 0;

    std::shared_ptr<ZVFomixIO> _reader;
    std::shared_ptr<ZVQueue> _frames;
    std::shared_ptr<ZVICM> _compressor;
    std::shared_ptr<ZVQueue> _encodedFrames;
    std::shared_ptr<ZVMovie> _movie;
    std::vector<std::unique_ptr<SoundTrack>> _sound;

    std::atomic<int> _stagesLeft{0};         // stages whose did-stop has not come yet
    std::shared_ptr<ZVExportSession> _self;  // from start until complete()
    std::atomic<bool> _cancelled{false};
    std::atomic<int64_t> _framesDone{0};
    std::atomic<double> _startedAt{0};
    mutable ZVMutex _failureLock;  // guards _failure
    std::string _failure ZV_GUARDED_BY(_failureLock);

    bool _started = false;
    bool _finished = false;
    std::string _finishError;
    std::string _moviePath;
};
