#pragma once
// The microphone track of a recording: ZVSoundInputRecorder -> ZVQueue -> ZVWavIO writing
// the package's audio file; at the end the recorder's start offset (when the device
// captured the first sample) and the device's measured rate go into the audio track's
// properties, so export can line the sound up with the picture and stretch it to it.
// The system-audio track is the same machinery on the loopback device, writing the
// system-audio file.
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "Session/ZVRecordingTrack.h"

class ZVSoundInputRecorder;
class ZVWavIO;
class ZVQueue;
class ZVWriterWatch;
enum ZVFomixXResource : int32_t;

class ZVMicrophoneTrack : public ZVRecordingTrack {
  public:
    // `device` as `zorvan devices` lists it; empty or "default" is the default input.
    // Main thread.
    explicit ZVMicrophoneTrack(std::string device);
    ~ZVMicrophoneTrack() override;

    std::string name() const override { return "microphone"; }
    std::string prepare(ZVFomixXManager& package, const ZVPlatformServices& services) override;
    std::string waitingFor() const override;
    void startAtTime(double absoluteTime) override;
    void resume() override;
    void pause(bool paused) override;
    void stopRecorder() override;
    bool writerStarted() const override;
    void finalizeWriter() override;
    bool writerStopped() const override;
    std::string writerFailure() const override;
    std::string recorderFailure() const override;
    std::pair<ZVFomixXResource, ZVValue> entry() const override;
    std::string store(ZVFomixXManager& package) override;
    std::string status(double elapsedSeconds) const override;
    std::pair<double, double> span() const override;
    std::string report(std::pair<double, double> screen) const override;

    // The report line of an audio track `name` that starts at `start` and lasts
    // `seconds`, against the screen's span, with the sound the server lost: each loss's
    // place and length in seconds. Any thread.
    static std::string reportLine(const std::string& name, std::pair<double, double> audio,
                                  std::pair<double, double> screen,
                                  const std::vector<std::pair<double, double>>& losses,
                                  double measuredRate);
    // The package keys of an audio track that count the losses and their total length.
    static constexpr std::string_view kLostSoundCountKey = "LostSoundCount";
    static constexpr std::string_view kLostSoundSecondsKey = "LostSoundSeconds";

  protected:
    // A sound track of another kind: `resource` is the package track it fills, `label`
    // starts its part of the status line. Main thread.
    ZVMicrophoneTrack(std::string device, ZVFomixXResource resource, std::string label);

  private:
    // Waits up to 3 s for the recorder's worker to end (logged when it does not). Not
    // the main thread, but for teardown.
    void waitForRecorder();

    std::string _device;
    ZVFomixXResource _resource;
    std::string _label;
    std::string _wavPath;
    std::string _shown;               // the device as messages name it
    std::unique_ptr<ZVQueue> _queue;  // outlives both stages (declared before them)
    std::shared_ptr<ZVWavIO> _writer;
    std::shared_ptr<ZVSoundInputRecorder> _recorder;
    const std::unique_ptr<ZVWriterWatch> _watch;          // the writer's did-start and did-stop
    const std::unique_ptr<ZVWriterWatch> _recorderWatch;  // its did-stop and the reason it carried
    bool _recorderStarted = false;  // set on the main thread before the stop thread starts
};
