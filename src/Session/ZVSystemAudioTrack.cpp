#include "Session/ZVSystemAudioTrack.h"

#include "Audio/ZVAudioDevice.h"
#include "Audio/ZVAudioHardware.h"
#include "Audio/ZVSoundInputRecorder.h"
#include "Audio/ZVSystemSoundSupport.h"
#include "Foundation/ZVLog.h"
#include "Storage/ZVFomixXManager.h"

ZVSystemAudioTrack::ZVSystemAudioTrack()
    : ZVMicrophoneTrack(ZVSystemSoundSupport::kDeviceName, ZVFomixXResourceSystemAudio, "sys") {}

ZVSystemAudioTrack::~ZVSystemAudioTrack() {
    endPlayThru();
}

std::string ZVSystemAudioTrack::prepare(ZVFomixXManager& package,
                                        const ZVPlatformServices& services) {
    // A recording that died with play-through on left the output redirected; the output
    // noted below must be the user's, not the loopback device.
    if (std::string undone = ZVSystemSoundSupport::restoreStaleRedirection(services);
        !undone.empty())
        ZVLog("ZVSystemAudioTrack: %s", undone.c_str());
    const std::string device = ZVSystemSoundSupport::kDeviceName;
    // Without a sound server there is no device at all: that is what to say, not the driver.
    const auto& hardware = services.audioHardware;
    std::string why = "no audio layer";
    auto inputs = hardware ? hardware->devices(true, &why) : std::nullopt;
    if (!inputs) return "the sound server cannot be reached (" + why + ")";
    if (!ZVAudioDeviceList::idForName(*inputs, device))
        return "the loopback device \"" + device + "\" is not there (see 'zorvan driver install')";
    ZVSystemSoundSupport::preparePlayThru(services);
    _support = ZVSystemSoundSupport::sharedSystemSoundSupport(services);
    if (!_support)
        return "a device \"" + device +
               "\" is there but the loopback driver is not installed (see 'zorvan driver "
               "install')";
    // Another recording has the machine's sound on the loopback device already: this one
    // records it too and leaves the output alone. Play-through of its own would play the
    // loopback device into itself, and giving the output back is that recording's.
    if (ZVSystemSoundSupport::selectedOutputDevice() == _support->loopbackDevice()) {
        _sharedWith = ZVSystemSoundSupport::redirectingProcess();
        ZVLog(
            "ZVSystemAudioTrack: the default output is the loopback device already (%s); "
            "recording it without play-through",
            _sharedWith ? ("redirected by process " + std::to_string(_sharedWith)).c_str()
                        : "chosen by the user");
        return ZVMicrophoneTrack::prepare(package, services);
    }
    _support->setPlayThru(0);
    _playing = true;
    if (std::string why = _support->lastError(); !why.empty()) {
        endPlayThru();
        return "play-through could not start: " + why;
    }
    return ZVMicrophoneTrack::prepare(package, services);
}

void ZVSystemAudioTrack::stopRecorder() {
    ZVMicrophoneTrack::stopRecorder();
    // Here, not on the stop thread: the user's output is back before requestStop returns
    // (a second Ctrl-C may end the process right after), and play-through is only ever
    // switched on the main thread. It answers in milliseconds; only a device that never
    // answers makes it wait, for its bounded handshake.
    endPlayThru();
}

void ZVSystemAudioTrack::endPlayThru() {
    if (!_playing) return;
    _playing = false;
    _support->setPlayThru(1);
    if (std::string why = _support->lastError(); !why.empty())
        ZVLog("ZVSystemAudioTrack: play-through did not stop cleanly: %s", why.c_str());
}

std::string ZVSystemAudioTrack::report(std::pair<double, double> screen) const {
    std::string line = ZVMicrophoneTrack::report(screen);
    if (_sharedWith && !line.empty())
        line += "; the machine's sound came through the recording of process " +
                std::to_string(_sharedWith) + ", and stops when that one ends";
    return line;
}
