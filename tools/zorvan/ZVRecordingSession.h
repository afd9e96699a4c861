#pragma once
// A recording in progress: the package and its tracks, started together at one common
// time and stopped in order (recorders first, then every writer drains its queue).
#include <memory>
#include <string>
#include <vector>

#include "ZVRecordingTrack.h"

class ZVFomixXManager;

class ZVRecordingSession {
  public:
    // Makes the package at `path` (the first free name when it exists). One clear line in
    // *error when the place cannot be written. Main thread.
    static std::unique_ptr<ZVRecordingSession> create(const std::string& path, std::string* error);
    ~ZVRecordingSession();

    // Adds a track; tracks record in the order added. Main thread, before prepare.
    void addTrack(std::unique_ptr<ZVRecordingTrack> track);
    // Prepares every track; one clear line when any cannot be prepared, and then only the
    // tracks prepared before it remain for stop. Main thread.
    std::string prepare();
    // Starts every recorder at one common time and lifts their suspensions. Main thread.
    void start();
    // Seconds since start. Any thread.
    double elapsed() const;
    // Why a writer stopped on its own (a failed write), or empty; the recording must end
    // when it is not. Main thread.
    std::string writerFailure() const;
    // Stops the recorders, waits for each writer's did-start, finalizes the writers,
    // waits until they stopped (draining the main run loop meanwhile) and stores what the
    // package keeps. One clear line when something could not be stored. Main thread.
    std::string stop();
    // One line per track that reports its place against the screen's (the first track).
    // Main thread, after stop.
    std::vector<std::string> report() const;
    // The live status line of all tracks. Main thread.
    std::string status() const;
    // The package's path. Main thread.
    const std::string& path() const;

  private:
    ZVRecordingSession() = default;
    std::shared_ptr<ZVFomixXManager> _package;
    std::vector<std::unique_ptr<ZVRecordingTrack>> _tracks;
    double _startedAt = 0;
    bool _started = false;
};
