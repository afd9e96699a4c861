#include "Session/ZVRecordingSession.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <optional>
#include <thread>

#include "Foundation/ZVLog.h"
#include "Foundation/ZVNotificationCenter.h"
#include "Foundation/ZVRunLoop.h"
#include "Foundation/ZVTime.h"
#include "Storage/ZVFomixXManager.h"

namespace fs = std::filesystem;

namespace {
// The package a recording named `path` goes to: the path with ".fomixx" added unless it
// has it. A directory that is no package (an existing one without the extension, or a
// name such as "/", "." or "..") is refused, so that its name never becomes a package's
// ("somedir.", ".-1."); nullopt with the line in *error then.
std::optional<std::string> packagePathFor(const std::string& path, std::string* error) {
    std::string p = path;
    while (p.size() > 1 && p.back() == '/') p.pop_back();
    const std::string name = fs::path(p).filename().string();
    const bool hasExtension =
        fs::path(p).extension() == "." + std::string(ZVFomixXManager::kPackageExtension);
    std::error_code ec;
    if (name.empty() || name == "." || name == ".." || p == "/" ||
        (!hasExtension && fs::is_directory(p, ec))) {
        *error = "cannot write " + path +
                 ": it is a directory, not a recording package (name one such as " +
                 (fs::path(p) / "take.fomixx").string() + ")";
        return std::nullopt;
    }
    return hasExtension ? p : p + "." + std::string(ZVFomixXManager::kPackageExtension);
}
}  // namespace

std::shared_ptr<ZVRecordingSession> ZVRecordingSession::create(const std::string& path,
                                                               std::string* error,
                                                               const ZVPlatformServices& services) {
    auto packagePath = packagePathFor(path, error);
    if (!packagePath) return nullptr;
    fs::path target(*packagePath);
    fs::path parent = target.has_parent_path() ? target.parent_path() : fs::path(".");
    std::error_code ec;
    if (!fs::is_directory(parent, ec)) {
        *error = "cannot write " + *packagePath + ": " + parent.string() + " is no directory";
        return nullptr;
    }
    if (access(parent.c_str(), W_OK | X_OK) != 0) {
        *error = "cannot write " + *packagePath + ": " + std::strerror(errno);
        return nullptr;
    }
    std::shared_ptr<ZVRecordingSession> session(new ZVRecordingSession());
    session->_services = services;
    session->_package = ZVFomixXManager::initWithFile(*packagePath);
    if (!session->_package->isPackage()) {
        *error = "cannot write " + *packagePath + ": it is no recording package (.fomixx)";
        return nullptr;
    }
    std::string why;
    if (!session->_package->createFomixX(&why)) {
        // Nothing is left behind: the manager removed the directory it made.
        *error = "cannot create the package " + session->_package->path() + ": " + why;
        return nullptr;
    }
    return session;
}

ZVRecordingSession::~ZVRecordingSession() {
    stopKeeping();
}

void ZVRecordingSession::addTrack(std::unique_ptr<ZVRecordingTrack> track) {
    _tracks.push_back(std::move(track));
}

std::string ZVRecordingSession::prepare() {
    for (size_t i = 0; i < _tracks.size(); ++i) {
        std::string error = _tracks[i]->prepare(*_package, _services);
        if (!error.empty()) {
            // A track that could not be prepared started no writer; only those before it
            // have something to stop and drain.
            _tracks.resize(i);
            _prepareFailed = true;
            return error;
        }
    }
    return {};
}

std::string ZVRecordingSession::waitingFor() const {
    std::string names;
    for (auto& track : _tracks)
        if (std::string what = track->waitingFor(); !what.empty())
            names += (names.empty() ? "" : ", ") + what;
    return names;
}

void ZVRecordingSession::start() {
    // Sound devices started capturing in prepare, so that their first samples can lie at
    // the common time; one slow to start gets a moment.
    if (!ZVPollUntil([this] { return waitingFor().empty(); }, kDeviceStartTimeout))
        ZVLog("ZVRecordingSession: %s did not start within %g s; recording without waiting longer",
              waitingFor().c_str(), kDeviceStartTimeout);
    // One common time; each recorder notes how late its first active moment came.
    double t = ZVAbsoluteTimeGetCurrent();
    for (auto& track : _tracks) track->startAtTime(t);
    for (auto& track : _tracks) track->resume();
    _startedAt = ZVAbsoluteTimeGetCurrent();
    _started = true;
    {
        std::lock_guard<std::mutex> g(_keeperLock);
        _keeping = true;
    }
    _keeper = std::thread([this] { keepPackage(); });
}

void ZVRecordingSession::keepPackage() {
    using Clock = std::chrono::steady_clock;
    std::vector<ZVValue> written(_tracks.size(), ZVValue::dict());
    Clock::time_point nextRefresh = Clock::now();
    std::unique_lock<std::mutex> lock(_keeperLock);
    // A timer while recording (new keys go in within a tenth of a second); asleep while
    // paused, when no track changes.
    while (!_keeperWake.wait_for(lock, std::chrono::milliseconds(100), [this] {
        return !_keeping || _keeperPaused;
    }) || _keeping) {
        if (_keeperPaused) {
            _keeperWake.wait(lock, [this] { return !_keeping || !_keeperPaused; });
            continue;
        }
        lock.unlock();
        const bool due = Clock::now() >= nextRefresh;
        for (size_t i = 0; i < _tracks.size(); ++i) {
            _tracks[i]->keep();
            auto [kind, values] = _tracks[i]->entry();
            if (!values.dictItems() || values == written[i]) continue;
            // A key seen for the first time (a start offset) is written at once; changed
            // values (a rate measured further) with the next refresh.
            bool newKey = false;
            for (const auto& item : *values.dictItems())
                newKey = newKey || written[i].get(item.first) == nullptr;
            if (!newKey && !due) continue;
            _package->setProperties(values, kind);
            written[i] = std::move(values);
        }
        if (due) nextRefresh = Clock::now() + std::chrono::seconds(1);
        lock.lock();
    }
}

void ZVRecordingSession::stopKeeping() {
    {
        std::lock_guard<std::mutex> g(_keeperLock);
        _keeping = false;
    }
    _keeperWake.notify_all();
    if (_keeper.joinable()) _keeper.join();
}

void ZVRecordingSession::pause(bool paused) {
    if (!_started || _stopRequested || paused == _paused) return;
    for (auto& track : _tracks) track->pause(paused);
    _paused = paused;
    {
        std::lock_guard<std::mutex> g(_keeperLock);
        _keeperPaused = paused;
    }
    _keeperWake.notify_all();
}

double ZVRecordingSession::elapsed() const {
    return _started ? ZVAbsoluteTimeGetCurrent() - _startedAt : 0;
}

std::string ZVRecordingSession::writerFailure() const {
    for (auto& track : _tracks) {
        if (!track->writerStopped()) continue;
        std::string why = track->writerFailure();
        return why.empty() ? track->name() + ": the writer stopped before the recording ended"
                           : why;
    }
    return {};
}

std::string ZVRecordingSession::recorderFailure() const {
    for (auto& track : _tracks)
        if (std::string why = track->recorderFailure(); !why.empty()) return why;
    return {};
}

bool ZVRecordingSession::recordersAllFailed() const {
    return !_tracks.empty() && std::all_of(_tracks.begin(), _tracks.end(), [](const auto& t) {
        return !t->recorderFailure().empty();
    });
}

void ZVRecordingSession::setWriterTimeouts(double startSeconds, double drainSeconds) {
    _startTimeout = startSeconds;
    _drainTimeout = drainSeconds;
}

void ZVRecordingSession::requestStop() {
    if (_stopRequested) return;
    _stopRequested = true;
    for (auto& track : _tracks) track->stopRecorder();
    // The stop thread holds the session until it hands it to the main thread, whose
    // delivery then holds it; so the last reference (and the tracks' teardown) always
    // goes on the main thread.
    std::thread([self = shared_from_this()]() mutable {
        auto reasons = self->finishTracks();
        ZVRunLoop::main().post([session = std::move(self), reasons = std::move(reasons)] {
            session->finish(reasons);
        });
    }).detach();
}

std::vector<std::string> ZVRecordingSession::finishTracks() {
    // A writer finalized before its worker is under way could miss the request; wait for
    // each one's did-start (or its early stop) first.
    std::vector<std::string> failures(_tracks.size());
    stopKeeping();  // the package is the stop thread's from here
    for (size_t i = 0; i < _tracks.size(); ++i) {
        auto& track = _tracks[i];
        if (!ZVPollUntil([&] { return track->writerStarted() || track->writerStopped(); },
                         _startTimeout))
            failures[i] = track->name() + ": the writer did not start";
    }
    for (auto& track : _tracks) track->finalizeWriter();
    auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(_drainTimeout);
    for (size_t i = 0; i < _tracks.size(); ++i) {
        auto& track = _tracks[i];
        double left = std::chrono::duration<double>(end - std::chrono::steady_clock::now()).count();
        if (!ZVPollUntil([&] { return track->writerStopped(); }, std::max(left, 0.0)) &&
            failures[i].empty())
            failures[i] = track->name() + ": the writer did not finish its queue";
    }
    // Every track is stored here too, whatever failed: on a slow disk the package's syncs
    // take seconds, which the main thread (a GUI's) must not wait for. A writer that
    // stopped for a failure of its own outranks the waiting's verdict, then the recorder's
    // own failure; what could not be stored comes last.
    for (size_t i = 0; i < _tracks.size(); ++i) {
        auto& track = _tracks[i];
        std::string stored = track->store(*_package);
        std::string why = track->writerStopped() ? track->writerFailure() : std::string();
        if (why.empty()) why = failures[i];
        if (why.empty()) why = track->recorderFailure();
        if (why.empty()) why = stored;
        failures[i] = why;
    }
    return failures;
}

void ZVRecordingSession::finish(const std::vector<std::string>& reasons) {
    ZVValue tracks;
    std::string first;
    for (size_t i = 0; i < _tracks.size(); ++i) {
        const std::string& why = reasons[i];
        if (why.empty()) continue;
        if (first.empty()) first = why;
        tracks.set(_tracks[i]->name(), why);
    }
    if (_prepareFailed && !_started) {
        // Nothing was recorded: the package made a moment ago goes again.
        std::error_code ignored;
        fs::remove_all(_package->path(), ignored);
    }
    _finished = true;
    _finishError = first;
    ZVValue info;
    if (!first.empty()) {
        info.set("Error", first);
        info.set("Tracks", std::move(tracks));
    }
    ZVNotificationCenter::defaultCenter().post(ZVRecordingSessionDidFinishNotification, this,
                                               std::move(info));
}

std::string ZVRecordingSession::stopAndWait(double timeoutSeconds) {
    requestStop();
    if (!ZVRunLoop::main().runUntil([this] { return _finished; }, timeoutSeconds))
        return ZVFormat("the writers did not finish within %g s", timeoutSeconds);
    return _finishError;
}

std::vector<std::string> ZVRecordingSession::report() const {
    std::vector<std::string> lines;
    if (_tracks.empty()) return lines;
    const auto screen = _tracks.front()->span();
    for (auto& track : _tracks) {
        if (auto line = track->report(screen); !line.empty()) lines.push_back(line);
    }
    return lines;
}

std::string ZVRecordingSession::status() const {
    std::string line;
    double t = elapsed();
    char clock[32];
    std::snprintf(clock, sizeof clock, "%02d:%04.1f", int(t / 60), t - 60 * int(t / 60));
    line = clock;
    for (auto& track : _tracks) line += "  " + track->status(t);
    return line;
}

const std::string& ZVRecordingSession::path() const {
    return _package->path();
}
