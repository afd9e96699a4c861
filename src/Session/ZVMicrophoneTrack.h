#pragma once
// The microphone track of a recording: ZVSoundInputRecorder -> ZVQueue -> ZVWavIO writing
// the package's audio file; at the end the recorder's start offset goes into the audio
// track's properties, so export can line the sound up with the picture. The system-audio
// track is the same machinery on the loopback device, writing the system-audio file.
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "Session/ZVRecordingTrack.h"
#include "Session/ZVWriterWatch.h"

class ZVSoundInputRecorder;
class ZVWavIO;
class ZVQueue;
enum ZVFomixXResource : int32_t;

class ZVMicrophoneTrack : public ZVRecordingTrack {
  public:
    // `device` as `zorvan devices` lists it; empty or "default" is the default input.
    // Main thread.
    explicit ZVMicrophoneTrack(std::string device);
    ~ZVMicrophoneTrack() override;

    std::string name() const override { return "microphone"; }
    std::string prepare(ZVFomixXManager& package) override;
    void startAtTime(double absoluteTime) override;
    void resume() override;
    void pause(bool paused) override;
    void stopRecorder() override;
    bool writerStarted() const override { return _watch.started(); }
    void finalizeWriter() override;
    bool writerStopped() const override { return _watch.stopped(); }
    std::string writerFailure() const override { return _watch.error(); }
    std::string store(ZVFomixXManager& package) override;
    std::string status(double elapsedSeconds) const override;

  protected:
    // A sound track of another kind: `resource` is the package track it fills, `label`
    // starts its part of the status line. Main thread.
    ZVMicrophoneTrack(std::string device, ZVFomixXResource resource, std::string label);

  private:
    std::string _device;
    ZVFomixXResource _resource;
    std::string _label;
    std::string _wavPath;
    std::unique_ptr<ZVQueue> _queue;  // outlives both stages (declared before them)
    std::shared_ptr<ZVWavIO> _writer;
    std::shared_ptr<ZVSoundInputRecorder> _recorder;
    ZVWriterWatch _watch;
};
