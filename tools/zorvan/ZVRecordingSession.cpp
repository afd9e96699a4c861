#include "ZVRecordingSession.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "Foundation/ZVRunLoop.h"
#include "Foundation/ZVTime.h"
#include "Storage/ZVFomixXManager.h"

namespace fs = std::filesystem;

namespace {
// How long a writer may take to start, and to drain its queue, before the session says
// so instead of hanging.
constexpr double kWriterStartTimeout = 10;
constexpr double kWriterDrainTimeout = 600;
}  // namespace

std::unique_ptr<ZVRecordingSession> ZVRecordingSession::create(const std::string& path,
                                                               std::string* error) {
    fs::path target(path);
    fs::path parent = target.has_parent_path() ? target.parent_path() : fs::path(".");
    std::error_code ec;
    if (!fs::is_directory(parent, ec)) {
        *error = "cannot write " + path + ": " + parent.string() + " is no directory";
        return nullptr;
    }
    if (access(parent.c_str(), W_OK | X_OK) != 0) {
        *error = "cannot write " + path + ": " + std::strerror(errno);
        return nullptr;
    }
    std::unique_ptr<ZVRecordingSession> session(new ZVRecordingSession());
    session->_package = ZVFomixXManager::initWithFile(path);
    if (!session->_package->isPackage()) {
        *error = "cannot write " + path + ": it is no recording package (.fomixx)";
        return nullptr;
    }
    session->_package->createFomixX();
    const std::string& made = session->_package->path();
    if (!fs::is_regular_file(fs::path(made) / ZVFomixXManager::kInfoFileName, ec)) {
        *error = "cannot create the package " + made;
        return nullptr;
    }
    return session;
}

ZVRecordingSession::~ZVRecordingSession() = default;

void ZVRecordingSession::addTrack(std::unique_ptr<ZVRecordingTrack> track) {
    _tracks.push_back(std::move(track));
}

std::string ZVRecordingSession::prepare() {
    for (size_t i = 0; i < _tracks.size(); ++i) {
        std::string error = _tracks[i]->prepare(*_package);
        if (!error.empty()) {
            // A track that could not be prepared started no writer; only those before it
            // have something to stop and drain.
            _tracks.resize(i);
            return error;
        }
    }
    return {};
}

void ZVRecordingSession::start() {
    // One common time; each recorder notes how late its first active moment came.
    double t = ZVAbsoluteTimeGetCurrent();
    for (auto& track : _tracks) track->startAtTime(t);
    for (auto& track : _tracks) track->resume();
    _startedAt = ZVAbsoluteTimeGetCurrent();
    _started = true;
}

double ZVRecordingSession::elapsed() const {
    return _started ? ZVAbsoluteTimeGetCurrent() - _startedAt : 0;
}

std::string ZVRecordingSession::writerFailure() const {
    for (auto& track : _tracks) {
        if (track->writerStopped()) return track->writerFailure();
    }
    return {};
}

std::string ZVRecordingSession::stop() {
    for (auto& track : _tracks) track->stopRecorder();
    auto& loop = ZVRunLoop::main();
    // A writer finalized before its worker is under way could miss the request; wait for
    // each one's did-start (or its early stop) first.
    auto started = [&] {
        for (auto& track : _tracks) {
            if (!track->writerStarted() && !track->writerStopped()) return false;
        }
        return true;
    };
    std::string failure;
    if (!loop.runUntil(started, kWriterStartTimeout)) failure = "a writer did not start";
    for (auto& track : _tracks) track->finalizeWriter();
    auto stopped = [&] {
        for (auto& track : _tracks) {
            if (!track->writerStopped()) return false;
        }
        return true;
    };
    if (!loop.runUntil(stopped, kWriterDrainTimeout) && failure.empty()) {
        failure = "a writer did not finish its queue";
    }
    loop.runOnce();
    for (auto& track : _tracks) {
        std::string error = track->store(*_package);
        if (failure.empty()) failure = error;
    }
    return failure;
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
