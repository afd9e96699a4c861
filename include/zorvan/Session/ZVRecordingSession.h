#pragma once
// A recording in progress: the package and its tracks, started together at one common
// time and stopped in order (recorders first, then every writer drains its queue). This
// is the wiring every host needs; a GUI host calls requestStop() and waits for the
// did-finish notification, a command-line host may block in stopAndWait().
//
// Notifications (object: the session), posted on the main thread:
// ZVRecordingSessionDidFinishNotification once everything is stored; when something
// failed, with userInfo {"Error": the first failing track's reason, "Tracks": {track name:
// reason} for every failing track}.
//
// Ownership: the session is held by std::shared_ptr; while a stop is under way its
// waiting thread and the main-thread hand-off keep it (and so every track's queue) alive
// until the writers are gone.
#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "Foundation/ZVMutex.h"
#include "Platform/ZVPlatformDefaults.h"
#include "Session/ZVRecordingTrack.h"

class ZVFomixXManager;

inline constexpr std::string_view ZVRecordingSessionDidFinishNotification =
    "ZVRecordingSessionDidFinishNotification";

class ZVRecordingSession : public std::enable_shared_from_this<ZVRecordingSession> {
  public:
    // How long a writer may take to start, and to drain its queue, before the session
    // reports it instead of waiting on.
    static constexpr double kWriterStartTimeout = 10;
    static constexpr double kWriterDrainTimeout = 600;

    // Makes the package at `path`, with ".fomixx" added when the name lacks it (the first
    // free name when it exists). One clear line in *error, and nothing left on the disk,
    // when `path` is a directory that is no package or the place cannot be written (with
    // the system's reason). The tracks make their stages over `services`. Main thread.
    static std::shared_ptr<ZVRecordingSession> create(
        const std::string& path, std::string* error,
        const ZVPlatformServices& services = ZVPlatformDefaults());
    ~ZVRecordingSession();

    // Adds a track; tracks record in the order added. Main thread, before prepare.
    void addTrack(std::unique_ptr<ZVRecordingTrack> track);
    // Prepares every track; one clear line when any cannot be prepared, and then only the
    // tracks prepared before it remain for stop. A session stopped after a failed prepare
    // recorded nothing: its package is removed again when it finishes. Main thread.
    std::string prepare();
    // Starts every recorder at one common time and lifts their suspensions; a sound device
    // that has not started capturing yet is waited for up to kDeviceStartTimeout first (then
    // the recording starts anyway, and the track's offset says where its sound begins).
    // Main thread.
    void start();
    // The devices start() would wait for, named for a status line; empty when none.
    // Main thread, after prepare.
    std::string waitingFor() const;
    static constexpr double kDeviceStartTimeout = 2;
    // Pauses or resumes every recorder; paused time is left out of the recording.
    // Main thread.
    void pause(bool paused);
    bool isPaused() const { return _paused; }
    // Seconds since start, pauses included. Any thread.
    double elapsed() const;
    // Why a writer stopped on its own (a failed write), or empty; the recording must end
    // when it is not. Main thread.
    std::string writerFailure() const;
    // Why a recorder stopped on its own (a microphone unplugged), or empty; the other
    // tracks record on, and did-finish carries it. Main thread.
    std::string recorderFailure() const;
    // Whether every recorder stopped on its own (the display server and every device lost):
    // nothing is recorded any more, and the recording should end. Main thread.
    bool recordersAllFailed() const;

    // Stops the recorders and returns at once; the writers are finalized once each has
    // started and drained, and the package is stored, on a thread of the session's; the
    // main thread then posts did-finish. A second call does nothing. Main thread.
    void requestStop();
    // requestStop(), then drains the main run loop until did-finish or `timeoutSeconds`;
    // the failure (empty when none), or a line saying the writers did not finish in time.
    // Main thread.
    std::string stopAndWait(double timeoutSeconds = kWriterStartTimeout + kWriterDrainTimeout);
    // Whether did-finish was posted, and the failure it carried. Main thread.
    bool isFinished() const { return _finished; }
    const std::string& finishError() const { return _finishError; }

    // The writers' time limits (tests shorten them). Main thread, before requestStop.
    void setWriterTimeouts(double startSeconds, double drainSeconds);

    // One line per track that reports its place against the screen's (the first track).
    // Main thread, after did-finish.
    std::vector<std::string> report() const;
    // The live status line of all tracks. Main thread.
    std::string status() const;
    // The package's path. Main thread.
    const std::string& path() const;

  private:
    ZVRecordingSession() = default;
    // The stop thread's work: waits for the writers, finalizes them, waits for them to
    // drain, stores every track; per track, why it failed, or empty. Worker thread
    // (the stop thread).
    std::vector<std::string> finishTracks();
    // Posts did-finish with the failing tracks' reasons. Main thread.
    void finish(const std::vector<std::string>& reasons);
    // The keeper thread's loop: each track's side files and Info.plist entry kept up to
    // date while recording. Started by start() (main thread); ended and joined by
    // stopKeeping() (the stop thread, or the destructor) before any track is stored.
    void keepPackage();
    void stopKeeping();

    // Used by the main thread until start(), then by the keeper until stopKeeping(), then
    // by the stop thread.
    std::shared_ptr<ZVFomixXManager> _package;
    ZVPlatformServices _services;  // set by create, handed to every track's prepare
    std::thread _keeper;
    std::mutex _keeperLock;  // guards _keeping and _keeperPaused; pairs with _keeperWake
    std::condition_variable _keeperWake;
    bool _keeping = false;
    bool _keeperPaused = false;  // nothing changes while paused: the keeper sleeps
    // Fixed once the stop thread starts; it only calls the tracks' any-thread operations.
    std::vector<std::unique_ptr<ZVRecordingTrack>> _tracks;
    double _startedAt = 0;
    double _startTimeout = kWriterStartTimeout;
    double _drainTimeout = kWriterDrainTimeout;
    bool _started = false;
    bool _prepareFailed = false;
    bool _paused = false;
    bool _stopRequested = false;
    bool _finished = false;
    std::string _finishError;
};
