#pragma once
// The system-audio track of a recording: the microphone track's recorder, queue and writer
// opened on the loopback device "Soundflower (2ch)" and writing the package's system-audio
// file. While it records, the loopback device is the default output and play-through
// keeps the machine audible on the output that was the default before; that output is the
// default again when the recorder stops, when preparing fails, and when the track goes.
#include <memory>

#include "Session/ZVMicrophoneTrack.h"

class ZVSystemSoundSupport;

class ZVSystemAudioTrack : public ZVMicrophoneTrack {
  public:
    // Main thread.
    ZVSystemAudioTrack();
    ~ZVSystemAudioTrack() override;

    std::string name() const override { return "system audio"; }
    // Undoes a redirection a dead recording left, switches play-through on, then prepares
    // the recorder on the loopback device.
    std::string prepare(ZVFomixXManager& package) override;
    // Tells the recorder to end, then switches play-through off.
    void stopRecorder() override;

  private:
    // Switches play-through off (once). Main thread.
    void endPlayThru();

    std::shared_ptr<ZVSystemSoundSupport> _support;
    bool _playing = false;
};
