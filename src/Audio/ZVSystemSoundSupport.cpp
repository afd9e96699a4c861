#include "Audio/ZVSystemSoundSupport.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <optional>
#include <sstream>
#include <thread>
#include <vector>

#include "Audio/ZVAudioHardware.h"
#include "Audio/ZVSoundInputRecorder.h"
#include "Common/bsdprocess.h"
#include "Foundation/ZVBundle.h"
#include "Foundation/ZVLog.h"
#include "Foundation/ZVMutex.h"
#include "Foundation/ZVTime.h"
#include "Foundation/ZVUserDirectory.h"
#include "Foundation/ZVValue.h"
#include "Pipeline/ZVQueue.h"

extern char** environ;

namespace fs = std::filesystem;

namespace {

// One block of sound on its way through the play-through queue; weighs its length.
class ZVByteBlock : public ZVQueueObject {
  public:
    ZVByteBlock(const void* data, size_t size)
        : bytes(static_cast<const uint8_t*>(data), static_cast<const uint8_t*>(data) + size) {}
    int64_t dataSize() const override { return int64_t(bytes.size()); }
    std::vector<uint8_t> bytes;
};

// The output device that was the default when preparePlayThru last ran. Main thread.
uint32_t gSelectedOutputDevice = 0;

ZVMutex gSharedLock;  // guards gSharedSystemSoundSupport
std::shared_ptr<ZVSystemSoundSupport> gSharedSystemSoundSupport ZV_GUARDED_BY(gSharedLock);

int32_t inputCallback(uint32_t device, double now, const ZVAudioIOBuffer* input, double inputTime,
                      ZVAudioIOBuffer* output, double outputTime, void* clientData) {
    return static_cast<ZVSystemSoundSupport*>(clientData)
        ->inputProc(device, now, input, inputTime, output, outputTime);
}

int32_t outputCallback(uint32_t device, double now, const ZVAudioIOBuffer* input, double inputTime,
                       ZVAudioIOBuffer* output, double outputTime, void* clientData) {
    return static_cast<ZVSystemSoundSupport*>(clientData)
        ->outputProc(device, now, input, inputTime, output, outputTime);
}

// Starts DriverInstaller: "i" with the shipped bundle, or "u" with the installed one. Its
// exit is collected by a thread of its own (or here, when `wait`), so a finished run never
// lingers under its name as a zombie. Its exit status when waited for; -1 when it could
// not be started.
int launchInstaller(bool install, bool wait) {
    std::string tool = ZVBundle::resourcePath(ZVSystemSoundSupport::kInstallerName);
    if (tool.empty()) {
        ZVLog("ZVSystemSoundSupport: %s not found in %s", ZVSystemSoundSupport::kInstallerName,
              ZVBundle::resourceDirectory().c_str());
        return -1;
    }
    std::string v = install ? "i" : "u";
    std::string p = install ? ZVBundle::resourcePath(ZVSystemSoundSupport::kBundleName)
                            : ZVSystemSoundSupport::installedDriverPath();
    char* argv[] = {tool.data(), v.data(), p.data(), nullptr};
    pid_t pid = -1;
    if (int e = posix_spawn(&pid, tool.c_str(), nullptr, nullptr, argv, environ); e != 0) {
        ZVLog("posix_spawn(%s) failed with error %d", tool.c_str(), e);
        return -1;
    }
    if (!wait) {
        std::thread([pid] { waitpid(pid, nullptr, 0); }).detach();
        return 0;
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void releaseShared() {
    ZVLockGuard<ZVMutex> g(gSharedLock);
    gSharedSystemSoundSupport.reset();
}

std::optional<std::string> bundleVersion(const std::string& plist) {
    auto value = ZVValue::readFile(plist);
    const ZVValue* version = value ? value->get("CFBundleVersion") : nullptr;
    if (!version || version->kind() != ZVValue::Kind::String) return std::nullopt;
    return version->stringValue();
}

std::vector<long> versionComponents(const std::string& version) {
    std::vector<long> parts;
    size_t at = 0;
    while (true) {
        size_t dot = version.find('.', at);
        parts.push_back(std::strtol(version.substr(at, dot - at).c_str(), nullptr, 10));
        if (dot == std::string::npos) break;
        at = dot + 1;
    }
    return parts;
}

// The state file: the recording process's id and start time, then the output device's
// name. The start time tells the recorder from a later process given the same id.
struct Redirection {
    long pid = 0;
    unsigned long long started = 0;  // 0: not recorded (a file of an older version)
    std::string device;
};

// When process `pid` started, in clock ticks since boot (/proc/PID/stat, field 22).
std::optional<unsigned long long> processStartTime(long pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string stat;
    std::getline(in, stat);
    // The name (field 2) is in parentheses and may hold any character: count after it.
    size_t close = stat.rfind(')');
    if (close == std::string::npos) return std::nullopt;
    std::istringstream fields(stat.substr(close + 1));
    std::string field;
    for (int k = 3; k < 22 && fields >> field; ++k) {
    }
    unsigned long long started = 0;
    if (!(fields >> started)) return std::nullopt;
    return started;
}

bool processIsGone(const Redirection& r) {
    // A number that is no process id is as good as a process that is gone.
    if (r.pid <= 0 || r.pid > std::numeric_limits<pid_t>::max()) return true;
    if (kill(pid_t(r.pid), 0) != 0 && errno == ESRCH) return true;
    // A live process of that id that started at another time is another process.
    auto started = processStartTime(r.pid);
    return r.started != 0 && started && *started != r.started;
}

// The redirection in the state file, if there is one.
std::optional<Redirection> readRedirection() {
    std::ifstream in(ZVSystemSoundSupport::redirectionStatePath());
    Redirection r;
    std::string first;
    std::getline(in, first);
    std::istringstream ids(first);
    if (!(ids >> r.pid)) return std::nullopt;
    ids >> r.started;
    std::getline(in, r.device);
    return r;
}

// The redirection in the state file, when the process that wrote it is gone.
std::optional<Redirection> readStaleRedirection() {
    auto r = readRedirection();
    if (!r || !processIsGone(*r)) return std::nullopt;
    return r;
}

std::string outputDeviceName(const std::shared_ptr<ZVAudioHardware>& hardware, uint32_t id) {
    auto list = hardware ? hardware->devices(false) : std::nullopt;
    if (list)
        for (const ZVAudioDevice& d : *list)
            if (d.deviceId == id) return d.name;
    return {};
}

}  // namespace

std::string ZVSystemSoundSupport::extensionsDirectory() {
    return ZVUserDirectory(ZVUserDirectoryKind::data) + "/zorvan/Extensions";
}

std::string ZVSystemSoundSupport::installedDriverPath() {
    return extensionsDirectory() + "/" + kBundleName;
}

std::string ZVSystemSoundSupport::installedInfoPlistPath() {
    return installedDriverPath() + "/Contents/Info.plist";
}

std::string ZVSystemSoundSupport::redirectionStatePath() {
    return ZVUserDirectory(ZVUserDirectoryKind::state) + "/zorvan/default-output";
}

void ZVSystemSoundSupport::installDriver() {
    launchInstaller(true, false);
    // Let go of the shared object: the next one looks the device up again.
    releaseShared();
}

void ZVSystemSoundSupport::uninstallDriver() {
    launchInstaller(false, false);
    releaseShared();
}

int ZVSystemSoundSupport::runDriverInstaller(bool install) {
    int status = launchInstaller(install, true);
    releaseShared();
    return status;
}

bool ZVSystemSoundSupport::shippedVersionIsNewer(const std::string& installed,
                                                 const std::string& shipped) {
    // Not an ordering of versions: installed 2.0 against shipped 1.5 counts as newer,
    // because 5 is greater than 0. Drivers already out there were updated by this rule.
    std::vector<long> i = versionComponents(installed), s = versionComponents(shipped);
    if (s.size() != i.size()) return s.size() > i.size();
    for (size_t k = 0; k < s.size(); ++k)
        if (s[k] > i[k]) return true;
    return false;
}

void ZVSystemSoundSupport::updateDriverIfNeeded() {
    if (!isDriverInstalled()) {
        installDriver();
        return;
    }
    auto installed = bundleVersion(installedInfoPlistPath());
    auto shipped = bundleVersion(kShippedInfoPlist);
    if (installed && shipped && !shippedVersionIsNewer(*installed, *shipped)) return;
    // The two runs must not overlap: the install starts once the uninstall has ended.
    launchInstaller(false, true);
    if (!ZVPollUntil([] { return !isInstallingDriver(); }, kInstallerTimeout))
        ZVLog("ZVSystemSoundSupport: %s still running after %.0f s; installing anyway",
              kInstallerName, kInstallerTimeout);
    installDriver();
}

bool ZVSystemSoundSupport::isInstallingDriver() {
    return isBSDProcessExists(kInstallerName);
}

bool ZVSystemSoundSupport::isDriverInstalled() {
    std::error_code ec;
    return fs::exists(fs::symlink_status(installedDriverPath(), ec));
}

void ZVSystemSoundSupport::preparePlayThru(const ZVPlatformServices& services) {
    const auto& hardware = services.audioHardware;
    gSelectedOutputDevice = hardware ? hardware->defaultDeviceId(false) : 0;
}

uint32_t ZVSystemSoundSupport::selectedOutputDevice() {
    return gSelectedOutputDevice;
}

long ZVSystemSoundSupport::redirectingProcess() {
    auto r = readRedirection();
    return r && !processIsGone(*r) ? r->pid : 0;
}

void ZVSystemSoundSupport::releasePlayThru(const ZVPlatformServices& services) {
    releasePlayThruOn(services.audioHardware);
}

void ZVSystemSoundSupport::releasePlayThruOn(const std::shared_ptr<ZVAudioHardware>& hardware) {
    std::shared_ptr<ZVSystemSoundSupport> shared;
    {
        ZVLockGuard<ZVMutex> g(gSharedLock);
        shared = gSharedSystemSoundSupport;
    }
    if (shared) shared->endStreams();
    if (hardware) hardware->setDefaultOutputDevice(gSelectedOutputDevice);
    std::error_code ec;
    fs::remove(redirectionStatePath(), ec);
}

std::shared_ptr<ZVSystemSoundSupport> ZVSystemSoundSupport::sharedSystemSoundSupport(
    const ZVPlatformServices& services) {
    ZVLockGuard<ZVMutex> g(gSharedLock);
    if (!gSharedSystemSoundSupport ||
        gSharedSystemSoundSupport->_hardware != services.audioHardware)
        gSharedSystemSoundSupport = create(services);
    return gSharedSystemSoundSupport;
}

std::shared_ptr<ZVSystemSoundSupport> ZVSystemSoundSupport::create(
    const ZVPlatformServices& services) {
    std::shared_ptr<ZVSystemSoundSupport> self(new ZVSystemSoundSupport);
    self->_hardware = services.audioHardware;
    self->_soundflower2ch =
        ZVSoundInputRecorder::deviceIdForDeviceName(kDeviceName, false, services);
    // A loopback device without the installed driver is someone else's: leave it alone.
    if (self->_soundflower2ch != 0 && !isDriverInstalled()) return nullptr;
    self->_thruBuffer = std::make_unique<ZVQueue>();
    return self;
}

ZVSystemSoundSupport::~ZVSystemSoundSupport() {
    // The streams end first: no procedure runs on the queue once it goes.
    endStreams();
}

void ZVSystemSoundSupport::endStreams() {
    // stop() waits out a procedure still running: none reads the pointers while they go.
    if (_inputStream) _inputStream->stop();
    if (_outputStream) _outputStream->stop();
    _inputStream.reset();
    _outputStream.reset();
    _inputState.store(3);
    _outputState.store(3);
}

void ZVSystemSoundSupport::setPlayThru(int32_t state) {
    const auto& hardware = _hardware;
    if (state == 0) {
        _lastError.clear();
        _thruBuffer->flush();
        // The state file goes first: a crash right after the switch is undone next time.
        std::string previous = outputDeviceName(hardware, gSelectedOutputDevice);
        if (_soundflower2ch && !previous.empty()) {
            std::error_code ec;
            fs::create_directories(fs::path(redirectionStatePath()).parent_path(), ec);
            std::ofstream(redirectionStatePath())
                << getpid() << " " << processStartTime(getpid()).value_or(0) << "\n"
                << previous << "\n";
        }
        if (hardware) hardware->setDefaultOutputDevice(_soundflower2ch);
        _inputState.store(0);
        _outputState.store(0);
        // The procedures answer at their first callbacks, which an idle loopback device
        // makes a second or two later: nothing waits for that (the recording does not
        // depend on it); a side that never answered is said when switching off.
        std::string why;
        if (hardware && !_inputStream && _soundflower2ch)
            _inputStream = hardware->openStream(_soundflower2ch, true, &inputCallback, this, &why);
        if (!_inputStream || !_inputStream->start())
            _lastError = "the loopback device cannot be opened" + (why.empty() ? "" : ": " + why);
        if (hardware && !_outputStream && gSelectedOutputDevice)
            _outputStream =
                hardware->openStream(gSelectedOutputDevice, false, &outputCallback, this, &why);
        if (_lastError.empty() && (!_outputStream || !_outputStream->start()))
            _lastError = "the output device cannot be opened" + (why.empty() ? "" : ": " + why);
    } else if (state == 1) {
        _lastError.clear();
        // A side that never answered is stopped as it is; one that runs is asked to stop
        // and answers at its next callback.
        int32_t never = 0;
        const bool inputRan = !_inputState.compare_exchange_strong(never, 3);
        never = 0;
        const bool outputRan = !_outputState.compare_exchange_strong(never, 3);
        if (inputRan) _inputState.store(2);
        if (outputRan) _outputState.store(2);
        // Streams already ended (releasePlayThru) have nothing left to answer.
        const bool open = _inputStream || _outputStream;
        if (open && (inputRan || outputRan) &&
            !ZVPollUntil([this] { return _inputState.load() == 3 && _outputState.load() == 3; },
                         kHandshakeTimeout, std::chrono::milliseconds(5))) {
            _lastError = _inputState.load() != 3 ? "the loopback device did not stop"
                                                 : "the output device did not stop";
        } else if (open && !inputRan) {
            _lastError = "the loopback device never answered";
        } else if (open && !outputRan) {
            _lastError = "the output device never answered";
        }
        endStreams();
        releasePlayThruOn(_hardware);
    } else {
        return;
    }
    if (!_lastError.empty())
        ZVLog("ZVSystemSoundSupport: play-through %s: %s", state ? "off" : "on",
              _lastError.c_str());
}

int32_t ZVSystemSoundSupport::inputProc(uint32_t, double, const ZVAudioIOBuffer* input, double,
                                        ZVAudioIOBuffer*, double) {
    if (_inputState.load() == 2) {
        if (_inputStream) _inputStream->stop();
        _inputState.store(3);
        return 0;
    }
    int32_t started = 0;
    _inputState.compare_exchange_strong(started, 1);
    if (input && input->data && _thruBuffer->canAcceptObject())
        _thruBuffer->addObject(std::make_shared<ZVByteBlock>(input->data, input->byteSize));
    return 0;
}

int32_t ZVSystemSoundSupport::outputProc(uint32_t, double, const ZVAudioIOBuffer*, double,
                                         ZVAudioIOBuffer* output, double) {
    if (_outputState.load() == 2) {
        if (_outputStream) _outputStream->stop();
        _outputState.store(3);
        return 0;
    }
    if (_outputState.load() == 0) {
        // Not over a switch-off that came first (it marks a side that never answered 3).
        int32_t started = 0;
        if (_inputState.load() == 1) _outputState.compare_exchange_strong(started, 1);
        return 0;
    }
    auto block = std::dynamic_pointer_cast<ZVByteBlock>(_thruBuffer->nextObject());
    if (block && output && output->data)
        std::memcpy(output->data, block->bytes.data(),
                    std::min(block->bytes.size(), output->byteSize));
    return 0;
}

std::string ZVSystemSoundSupport::staleRedirection() {
    auto r = readStaleRedirection();
    if (!r) return {};
    return "the default output was taken from '" + r->device + "' by process " +
           std::to_string(r->pid) + ", which is gone";
}

std::string ZVSystemSoundSupport::restoreStaleRedirection(const ZVPlatformServices& services) {
    auto r = readStaleRedirection();
    if (!r) return {};
    const auto& hardware = services.audioHardware;
    auto list = hardware ? hardware->devices(false) : std::nullopt;
    uint32_t id = list ? ZVAudioDeviceList::idForName(*list, r->device) : 0;
    std::string error;
    if (!id || !hardware->setDefaultOutputDevice(id, &error))
        return "could not give the default output back to '" + r->device + "'" +
               (error.empty() ? "" : ": " + error);
    std::error_code ec;
    fs::remove(redirectionStatePath(), ec);
    return "gave the default output back to '" + r->device + "' (left redirected by process " +
           std::to_string(r->pid) + ")";
}
