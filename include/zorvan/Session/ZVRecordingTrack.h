#pragma once
// One track of a recording session: a recorder, the queue behind it and the writer that
// stores it in the package. The session drives every track through the same steps, so a
// new kind of track (a microphone, the system's sound) is one more class of this shape.
//
// Steps: prepare (files, stages; the writer is started and the recorder made but
// suspended) -> startAtTime (the common start time) -> resume (lift the suspension) ->
// [pause] -> stopRecorder -> finalizeWriter (once writerStarted) -> writerStopped ->
// store (what the package keeps about the track). While the recording runs, the session's
// keeper thread calls keep and entry, so that a package a crash leaves holds what a
// finished one would. The session's stop thread calls only writerStarted, finalizeWriter,
// writerStopped and store, after the keeper ended, and never two tracks' at once.
#include <string>
#include <utility>

#include "Foundation/ZVPlatformServices.h"
#include "Foundation/ZVValue.h"
#include "Storage/ZVFomixXManager.h"

class ZVRecordingTrack {
  public:
    virtual ~ZVRecordingTrack() = default;

    // What the track records ("screen", "microphone"), for messages. Any thread.
    virtual std::string name() const = 0;
    // Registers the track's files in `package` and makes its stages over the session's
    // `services`; the writer is started, the recorder waits suspended. One clear line when
    // it cannot. Main thread.
    virtual std::string prepare(ZVFomixXManager& package, const ZVPlatformServices& services) = 0;
    // What the track waits for before its first sample can lie at the common start time
    // (a sound device that has not captured yet), or empty. Main thread, after prepare.
    virtual std::string waitingFor() const { return {}; }
    // Starts the recorder (still suspended) with the session's common start time.
    // Main thread.
    virtual void startAtTime(double absoluteTime) = 0;
    // Lifts the suspension: recording begins. Main thread.
    virtual void resume() = 0;
    // Pauses or resumes the recorder. Main thread.
    virtual void pause(bool paused) = 0;
    // Stops the recorder; a recorder still suspended would ignore that, so the
    // suspension is lifted first. Main thread.
    virtual void stopRecorder() = 0;
    // Whether the writer has posted did-start (finalizing before that could be lost).
    // Any thread.
    virtual bool writerStarted() const = 0;
    // Lets the writer drain its queue and stop. Any thread.
    virtual void finalizeWriter() = 0;
    // Whether the writer has posted did-stop. Any thread.
    virtual bool writerStopped() const = 0;
    // The reason the writer's did-stop carried (its file could not be written), or empty
    // when it ended normally. Any thread, after writerStopped.
    virtual std::string writerFailure() const = 0;
    // The reason the recorder's did-stop carried when it stopped for a failure of its own
    // (its device was lost), or empty. The other tracks go on recording. Any thread.
    virtual std::string recorderFailure() const { return {}; }
    // Brings the track's side files up to date while it records (the screen's cursor
    // list), at most about once a second. Worker thread (the session's keeper), never
    // at once with store.
    virtual void keep() {}
    // The keys of the track's entry in Info.plist as far as they are known now (its start
    // offset once the first frame or sample came, the rate measured so far, frames lost):
    // the kind of entry they go to and a dictionary, empty while nothing is known. The
    // keeper writes them as soon as a key is new and refreshes them about once a second.
    // Any thread.
    virtual std::pair<ZVFomixXResource, ZVValue> entry() const {
        return {ZVFomixXResourceVideo, ZVValue::dict()};
    }
    // Writes what the package keeps about the track (start offset, side files). One clear
    // line when it cannot. Worker thread (the session's stop thread), after the writer
    // stopped.
    virtual std::string store(ZVFomixXManager& package) = 0;
    // Where the track lies on the common time line: its start offset and its length, in
    // seconds. Main thread, after store.
    virtual std::pair<double, double> span() const { return {0, 0}; }
    // Its line of the end-of-recording report against the screen's span, or empty.
    // Main thread, after store.
    virtual std::string report(std::pair<double, double>) const { return {}; }
    // A short part of the live status line ("1234 frames 59.9 fps queue 3%"). Main thread.
    virtual std::string status(double elapsedSeconds) const = 0;
};
