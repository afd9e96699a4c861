#pragma once
// The system-audio track of a recording: the microphone track's recorder, queue and writer
// opened on the loopback device "Soundflower (2ch)" and writing the package's system-audio
// file. While it records, the loopback device is the default output and play-through
// keeps the machine audible on the output that was the default before; that output is the
// default again when the recorder stops, when preparing fails, and when the track goes.
// When another recording has redirected the output already, this track records the
// loopback device beside it and touches neither the output nor play-through.
#include <memory>
#include <string>
#include <utility>

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
    std::string prepare(ZVFomixXManager& package, const ZVPlatformServices& services) override;
    // Tells the recorder to end, then switches play-through off.
    void stopRecorder() override;
    // Never holds the start back. An idle loopback device renders silence up to two
    // seconds ahead, and a new reader gets nothing of that block: what it would wait for is
    // that silence, while the sound programs play from now on reaches the device at its
    // next render and is recorded then. The track's start offset says where it begins.
    std::string waitingFor() const override { return {}; }
    // The recorder's line; one that shared another recording's redirection says so.
    std::string report(std::pair<double, double> screen) const override;

  private:
    // Switches play-through off (once). Main thread.
    void endPlayThru();

    std::shared_ptr<ZVSystemSoundSupport> _support;
    bool _playing = false;
    long _sharedWith = 0;  // the recording process whose redirection this one shares
};
