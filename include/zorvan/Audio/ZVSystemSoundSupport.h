#pragma once
// The system's own sound: the loopback driver ("Soundflower (2ch)", a bundle that
// DriverInstaller installs and removes) and the play-through that keeps the machine
// audible while its output is redirected to the loopback device for recording.
//
// Play-through hands blocks of sound from the loopback device's input procedure to the
// previous output device's output procedure through a bounded queue. The two state fields
// are a handshake: the caller writes 0 (start) or 2 (stop), the IO procedures answer 1
// (running) or 3 (stopped). The caller does not wait for the first answer; it polls for
// the second, for a few seconds at most.
//
// While play-through is on, the redirection is also written to a small state file, so a
// recording process that died before switching it off is undone at the next start
// (restoreStaleRedirection).
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "Audio/ZVAudioStream.h"
#include "Platform/ZVPlatformDefaults.h"

class ZVAudioHardware;
class ZVQueue;

class ZVSystemSoundSupport {
  public:
    static constexpr const char* kDeviceName = "Soundflower (2ch)";
    static constexpr const char* kInstallerName = "DriverInstaller";
    static constexpr const char* kBundleName = "Soundflower.kext";
    static constexpr const char* kShippedInfoPlist = "Soundflower.kext/Contents/Info.plist";
    // How long switching play-through off waits for the IO procedures to answer.
    static constexpr double kHandshakeTimeout = 3;
    // How long updateDriverIfNeeded waits for an uninstall run before installing.
    static constexpr double kInstallerTimeout = 30;

    // Launches DriverInstaller "i" with the shipped bundle; does not wait. Then lets go of
    // the shared object, so the next one looks the device up again. Main thread.
    static void installDriver();
    // Launches DriverInstaller "u" with the installed bundle; does not wait; then as
    // installDriver. Main thread.
    static void uninstallDriver();
    // Runs DriverInstaller to install (or uninstall) and waits for it; its output goes to
    // this process's. Its exit status, -1 when it could not be started. Main thread.
    static int runDriverInstaller(bool install);
    // Installs, reinstalls (the uninstall run ends before the install run starts) or
    // leaves the driver, comparing the installed and the shipped "CFBundleVersion".
    // Main thread; blocks while an uninstall run goes on.
    static void updateDriverIfNeeded();
    // A process named "DriverInstaller" runs, whoever started it. Any thread.
    static bool isInstallingDriver();
    // Something exists at the installed bundle's path. Any thread.
    static bool isDriverInstalled();
    // Notes the current default output device of the services' audio hardware: play-through
    // plays to it and releasePlayThru makes it the default again. Main thread.
    static void preparePlayThru(const ZVPlatformServices& services = ZVPlatformDefaults());
    // The output device preparePlayThru noted. Main thread.
    static uint32_t selectedOutputDevice();
    // The id of the running process whose play-through redirected the default output (the
    // state file's), 0 when there is none. Any thread.
    static long redirectingProcess();
    // Also ends the shared object's streams, so nothing of play-through stays connected
    // to the server; the next switch on opens them again. Main thread.
    static void releasePlayThru(const ZVPlatformServices& services = ZVPlatformDefaults());
    // The shared object over the services' audio hardware, made on first use (and made
    // again when asked for over other hardware: the redirection of the output is one per
    // process); nullptr when the driver is not installed but a loopback device is there
    // anyway. Main thread.
    static std::shared_ptr<ZVSystemSoundSupport> sharedSystemSoundSupport(
        const ZVPlatformServices& services = ZVPlatformDefaults());

    // Where drivers are installed: $XDG_DATA_HOME/zorvan/Extensions. Any thread.
    static std::string extensionsDirectory();
    // The installed bundle and its property list. Any thread.
    static std::string installedDriverPath();
    static std::string installedInfoPlistPath();
    // The state file naming the output device play-through redirected away from.
    static std::string redirectionStatePath();
    // A redirection left by a process that is gone (its id unused, or used by a process
    // that started at another time): one line saying which output device it took away;
    // empty when there is none. Any thread.
    static std::string staleRedirection();
    // Undoes a stale redirection: that device is the default output again and the state
    // file goes. The line saying what was done, empty when nothing was stale. Main thread.
    static std::string restoreStaleRedirection(
        const ZVPlatformServices& services = ZVPlatformDefaults());
    // Whether `shipped` is to replace `installed` by the driver's version rule: more
    // components, or any component greater at the same position. Any thread.
    static bool shippedVersionIsNewer(const std::string& installed, const std::string& shipped);

    ~ZVSystemSoundSupport();

    // 0 switches play-through on: the loopback device becomes the default output and the
    // two streams (on it and on the output noted by preparePlayThru) are opened and
    // started; it returns then, without waiting for their first callbacks (an idle loopback
    // device makes its first a second or two later). 1 switches it off: sides that run are
    // asked to stop and waited for, for kHandshakeTimeout at most; the streams end and the
    // noted output is the default again. Other values do nothing. lastError() says what
    // went wrong: a stream that could not be opened, or a side that never answered or did
    // not stop. Main thread.
    void setPlayThru(int32_t state);
    // Why the last switch did not complete; empty when it did. Main thread.
    std::string lastError() const { return _lastError; }
    uint32_t loopbackDevice() const { return _soundflower2ch; }
    int32_t inputState() const { return _inputState.load(); }
    int32_t outputState() const { return _outputState.load(); }

    // The IO procedures' bodies. Worker thread: the loopback device's IO thread for
    // input, the output device's for output. Never wait.
    int32_t inputProc(uint32_t device, double now, const ZVAudioIOBuffer* input, double inputTime,
                      ZVAudioIOBuffer* output, double outputTime);
    int32_t outputProc(uint32_t device, double now, const ZVAudioIOBuffer* input, double inputTime,
                       ZVAudioIOBuffer* output, double outputTime);

  private:
    ZVSystemSoundSupport() = default;
    static std::shared_ptr<ZVSystemSoundSupport> create(const ZVPlatformServices& services);
    // releasePlayThru over `hardware` (may be nullptr).
    static void releasePlayThruOn(const std::shared_ptr<ZVAudioHardware>& hardware);
    void endStreams();

    std::shared_ptr<ZVAudioHardware> _hardware;  // set by create; may be nullptr
    std::unique_ptr<ZVQueue> _thruBuffer;
    uint32_t _soundflower2ch = 0;
    std::atomic<int32_t> _inputState{3};
    std::atomic<int32_t> _outputState{3};
    // The registered procedures; open only while play-through is on. Main thread.
    std::unique_ptr<ZVAudioStream> _inputStream;
    std::unique_ptr<ZVAudioStream> _outputStream;
    std::string _lastError;
};
