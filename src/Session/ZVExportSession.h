#pragma once
// An export in progress: a recording (package or plain capture file) played back through
// the compressor into a movie, with one or two sound tracks encoded beside it and placed
// by the recorders' start offsets. This is the wiring every host needs:
//
//   capture-file reader -> queue -> ZVICM -> queue -> ZVMovie (video)
//   WAV reader -> queue -> ZVSoundEncoder -> queue -> ZVMovie (sound, up to two)
//
// Each stage is finalized once the stage before it has stopped, so a slow reader never
// looks like an empty source. When every movie writer is done the movie is closed, moved
// out beside the package (or to the path asked for) and did-finish is posted.
//
// Notifications (object: the session), posted on the main thread:
// ZVExportSessionDidFinishNotification, with {"Error": reason} when the export failed or
// was cancelled (then no movie is left behind).
//
// Ownership: held by std::shared_ptr; while it runs, its watch thread and then the
// main-thread hand-off keep it (and every stage and queue) alive until did-finish.
#include <atomic>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Foundation/ZVGeometry.h"
#include "Foundation/ZVMutex.h"
#include "Media/ZVEncodingPreset.h"

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
    // line in *error when the recording has no screen track that can be read. Main thread.
    static std::shared_ptr<ZVExportSession> create(const std::string& path,
                                                   const ZVEncodingPreset& preset,
                                                   std::string* error);
    ~ZVExportSession();

    // Where the movie ends up; by default beside the recording ("<name>.mov", the first
    // free name). Main thread, before start.
    void setOutputPath(const std::string& path) { _outputPath = path; }

    // Builds and starts every stage; one clear line when it cannot: nothing then runs, no
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

  private:
    struct SoundTrack;
    ZVExportSession() = default;
    // Makes every stage, the movie and its tracks; the first failure, or empty.
    std::string build();
    // After a failed build: removes the movie begun and finishes with `why`. Main thread.
    void abandon(const std::string& why);
    std::string addSoundTrack(int kind, const std::string& wavPath);
    // The watch thread: finalizes each stage after its upstream stopped, waits for the
    // movie writers, closes the movie. The first failure, or empty. Watch thread only.
    std::string watch();
    // Moves the movie into place and posts did-finish. Main thread.
    void finish(std::string failure);
    // Registers an observer that notes `stage`'s stop in `flag` (and a failure).
    void watchStop(const void* stage, std::string_view name, std::atomic<bool>& flag,
                   ZVStage* failing);
    void noteFailure(const std::string& why);
    void stopAll();

    std::shared_ptr<const ZVEncodingPreset> _preset;
    std::shared_ptr<ZVFomixXManager> _package;
    std::string _capturePath;
    std::string _moviePathInPackage;
    std::string _outputPath;
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

    std::atomic<bool> _readerDone{false};
    std::atomic<bool> _compressorDone{false};
    std::atomic<bool> _videoWritten{false};
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
