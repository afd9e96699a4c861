#include "Session/ZVRecordingRepair.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <optional>
#include <tuple>

#include "Audio/ZVWavHeader.h"
#include "Common/fnocache.h"
#include "Foundation/ZVLog.h"
#include "Foundation/ZVValue.h"
#include "Storage/ZVCursorListFile.h"
#include "Storage/ZVFomixRepair.h"
#include "Storage/ZVFomixXManager.h"
#include "Storage/ZVMovieFileCheck.h"

namespace {
using State = ZVFileVerdict::State;
using Manager = ZVFomixXManager;
namespace fs = std::filesystem;

constexpr ZVFomixXResource kTrackKinds[] = {ZVFomixXResourceVideo, ZVFomixXResourceAudio,
                                            ZVFomixXResourceSystemAudio, ZVFomixXResourceCursors};
// The smallest header a WAV writer makes: a shorter file holds no sound.
constexpr off_t kWavHeaderBytes = 44;

std::optional<off_t> fileSize(const std::string& path) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0) return std::nullopt;
    return st.st_size;
}

bool copyFile(const std::string& from, const std::string& to) {
    const int in = open(from.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) return false;
    const int out = open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    bool ok = out >= 0;
    char buffer[1 << 16];
    off_t at = 0;
    for (ssize_t n; ok && (n = read(in, buffer, sizeof buffer)) != 0; at += n)
        ok = n > 0 && ZVWriteAt(out, buffer, static_cast<size_t>(n), at);
    ok = ok && fsync(out) == 0;
    const int saved = errno;
    close(in);
    if (out >= 0) close(out);
    if (!ok && out >= 0) unlink(to.c_str());
    errno = saved;
    return ok;
}

// Takes a file that holds nothing worth keeping out of the recording's way: kept as
// NAME.damaged, or removed in place. The words of what was done, or why it failed.
ZVFileVerdict setAside(const std::string& path, const std::string& problem, bool dryRun,
                       bool inPlace, const std::string& after) {
    const std::string kept = ZVFomixDamagedPath(path);
    if (dryRun)
        return {
            path, State::Mendable,
            problem + (inPlace ? ": would remove it" : ": would set it aside as " + kept) + after};
    const bool ok = inPlace ? unlink(path.c_str()) == 0 : rename(path.c_str(), kept.c_str()) == 0;
    if (!ok)
        return {path, State::Unmendable,
                problem + ": cannot set it aside: " + std::strerror(errno)};
    return {path, State::Mendable,
            problem + (inPlace ? ": removed it" : ": set it aside as " + kept) + after};
}

ZVFileVerdict captureVerdict(const std::string& path, bool dryRun, bool inPlace) {
    const ZVFomixRepairResult r = ZVFomixRepair(path, dryRun, inPlace);
    using Outcome = ZVFomixRepairResult::Outcome;
    return {path,
            r.outcome == Outcome::AlreadyReadable ? State::Fine
            : r.outcome == Outcome::Repaired      ? State::Mendable
                                                  : State::Unmendable,
            r.message};
}

// A WAV track: its header must count the samples that are there. A recording cut short
// leaves a header up to a second behind (or one that counts none); a file cut inside its
// header holds no sound and is set aside; a header that is no WAV header hides the format,
// so nothing can be mended.
ZVFileVerdict wavVerdict(const std::string& path, bool dryRun, bool inPlace) {
    const std::optional<off_t> size = fileSize(path);
    if (!size)
        return {path, State::Notice,
                path + " is listed but not there; the movie gets no such sound track"};
    std::string error;
    auto d = ZVWavHeader::describeFile(path, &error);
    if (!d && *size < kWavHeaderBytes)
        return setAside(path,
                        ZVFormat("%s holds no sound (%lld bytes, cut inside its header)",
                                 path.c_str(), static_cast<long long>(*size)),
                        dryRun, inPlace, "; the movie gets no such sound track");
    if (!d)
        return {
            path, State::Unmendable,
            path + ": " + error + "; the format of its sound is unknown, so it cannot be mended"};
    const ZVWavLayout layout = ZVWavHeader::layoutFor(d->format);
    const uint64_t frameBytes =
        uint64_t(d->format.bitsPerChannel) * uint64_t(d->format.numberOfChannels) / 8;
    if (frameBytes == 0)
        return {path, State::Unmendable,
                ZVFormat("%s: its header gives frames of no size (%d channels, %d bits), so it "
                         "cannot be mended",
                         path.c_str(), d->format.numberOfChannels, d->format.bitsPerChannel)};
    const std::string readable =
        ZVFormat("%s is readable already (%u frames%s); nothing changed", path.c_str(), d->frames,
                 d->frames ? "" : ": it holds no sound");
    // Only a header as a recording's writer writes it is rewritten: another program's WAV
    // may keep its samples anywhere.
    std::vector<uint8_t> own =
        ZVWavHeader::bytes(ZVWavHeader::records(d->format, d->frames), layout);
    std::vector<uint8_t> head(own.size());
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    const bool ours =
        fd >= 0 && pread(fd, head.data(), head.size(), 0) == ssize_t(head.size()) && head == own;
    if (fd >= 0) close(fd);
    if (!ours) return {path, State::Fine, readable};
    const uint64_t frames = *size > layout.dataOffset
                                ? (uint64_t(*size) - uint64_t(layout.dataOffset)) / frameBytes
                                : 0;
    if (frames == d->frames || frames > UINT32_MAX) return {path, State::Fine, readable};
    const double seconds = d->format.sampleRate > 0 ? double(frames) / d->format.sampleRate : 0;
    if (dryRun)
        return {
            path, State::Mendable,
            ZVFormat("%s: would count %llu frames (%.3f s) in its header instead of %u",
                     path.c_str(), static_cast<unsigned long long>(frames), seconds, d->frames)};
    std::string kept;
    if (!inPlace) {
        kept = ZVFomixDamagedPath(path);
        if (!copyFile(path, kept))
            return {path, State::Unmendable,
                    path + ": cannot keep the original: " + std::strerror(errno)};
    }
    const auto bytes =
        ZVWavHeader::bytes(ZVWavHeader::records(d->format, static_cast<uint32_t>(frames)), layout);
    const int wfd = open(path.c_str(), O_WRONLY | O_CLOEXEC);
    const bool ok = wfd >= 0 && ZVWriteAt(wfd, bytes.data(), bytes.size(), 0) && fsync(wfd) == 0;
    const int saved = errno;
    if (wfd >= 0) close(wfd);
    if (!ok)
        return {path, State::Unmendable,
                path + ": cannot write its header: " + std::strerror(saved)};
    return {path, State::Mendable,
            ZVFormat("%s: mended: its header counts %llu frames (%.3f s)%s", path.c_str(),
                     static_cast<unsigned long long>(frames), seconds,
                     kept.empty() ? "" : ("; the original is kept as " + kept).c_str())};
}

ZVFileVerdict cursorsVerdict(const std::string& package, const std::optional<std::string>& path) {
    if (!path || !fileSize(*path))
        return {path.value_or(package), State::Notice,
                package + ": no cursor list was written; the pointer cannot be drawn on export"};
    std::string error;
    auto cursors = ZVCursorListFile::read(*path, &error);
    if (!cursors)
        return {*path, State::Unmendable,
                error + "; it cannot be mended, and the pointer is not drawn on export"};
    return {*path, State::Fine,
            ZVFormat("%s is readable already (%zu cursor images); nothing changed", path->c_str(),
                     cursors->size())};
}

// The track files a package holds under the names a recording gives them ("video.fomix",
// "audio-1.wav", ...), in the order of the kinds and then of their suffixes.
std::vector<std::pair<ZVFomixXResource, std::string>> trackFilesIn(const std::string& package) {
    std::vector<std::tuple<int, long, std::string>> found;
    std::error_code ec;
    for (fs::directory_iterator it(package, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        for (int k = 0; k < 4; ++k) {
            const std::string type(Manager::typeForResource(kTrackKinds[k]));
            const std::string ext =
                "." + std::string(Manager::extensionForResource(kTrackKinds[k]));
            if (name.size() <= type.size() + ext.size() ||
                name.compare(0, type.size(), type) != 0 ||
                name.compare(name.size() - ext.size(), ext.size(), ext) != 0)
                continue;
            const std::string suffix =
                name.substr(type.size(), name.size() - type.size() - ext.size());
            long n = 0;
            if (!suffix.empty()) {
                if (suffix[0] != '-' || suffix.size() < 2 ||
                    !std::all_of(suffix.begin() + 1, suffix.end(), ::isdigit))
                    continue;
                n = std::stol(suffix.substr(1));
            }
            found.emplace_back(k, n, name);
        }
    }
    // "video.fomix" alone, with the empty suffix, also fits "video" + "" + ".fomix" above.
    for (int k = 0; k < 4; ++k) {
        const std::string plain = std::string(Manager::typeForResource(kTrackKinds[k])) + "." +
                                  std::string(Manager::extensionForResource(kTrackKinds[k]));
        if (fileSize(package + "/" + plain)) found.emplace_back(k, -1, plain);
    }
    std::sort(found.begin(), found.end());
    found.erase(std::unique(found.begin(), found.end()), found.end());
    std::vector<std::pair<ZVFomixXResource, std::string>> files;
    for (const auto& [k, n, name] : found) files.emplace_back(kTrackKinds[k], name);
    return files;
}

// A package whose Info.plist cannot be read, or is gone while its track files are there,
// gets a new one that lists them. Nothing when Info.plist reads (or an earlier layout has
// none).
std::optional<ZVFileVerdict> infoVerdict(const Manager& package, bool dryRun, bool inPlace) {
    const std::string& path = package.path();
    const std::string info = path + "/" + std::string(Manager::kInfoFileName);
    const bool missing = !fileSize(info);
    auto files = trackFilesIn(path);
    if (package.infoError().empty() && !(missing && !files.empty())) return std::nullopt;
    const std::string problem = missing ? path + " has no Info.plist" : package.infoError();
    ZVValue tracks = ZVValue::array();
    std::string names;
    for (const auto& [kind, file] : files) {
        ZVValue entry = ZVValue::dict();
        const std::string type(Manager::typeForResource(kind));
        const auto dot = file.rfind('.');
        entry.set(Manager::kNameKey, file.substr(0, dot));
        entry.set(Manager::kPathKey, file);
        entry.set(Manager::kTypeKey, type);
        tracks.append(std::move(entry));
        names += (names.empty() ? "" : ", ") + file;
    }
    if (names.empty()) names = "no tracks";
    const std::string offsets =
        files.size() > 1 ? " (where each track starts is not known: all start together)" : "";
    if (dryRun)
        return ZVFileVerdict{info, State::Mendable,
                             problem + "; would list " + names + " anew" + offsets};
    std::string kept;
    if (!inPlace && !missing) {
        kept = ZVFomixDamagedPath(info);
        if (rename(info.c_str(), kept.c_str()) != 0)
            return ZVFileVerdict{info, State::Unmendable,
                                 info + ": cannot keep the original: " + std::strerror(errno)};
    }
    ZVValue dict = ZVValue::dict();
    dict.set(Manager::kVersionKey, std::string(Manager::kCurrentVersion));
    dict.set(Manager::kTracksKey, std::move(tracks));
    std::string error;
    if (!dict.writeFile(info, false, &error))
        return ZVFileVerdict{info, State::Unmendable, info + ": " + error};
    return ZVFileVerdict{info, State::Mendable,
                         problem + "; listed " + names + " anew" + offsets +
                             (kept.empty() ? "" : "; the original is kept as " + kept)};
}
}  // namespace

std::vector<ZVFileVerdict> ZVRepairRecording(const std::string& path, bool dryRun, bool inPlace) {
    auto package = Manager::initWithFile(path);
    if (!package->isPackage()) return {captureVerdict(path, dryRun, inPlace)};
    std::vector<ZVFileVerdict> verdicts;
    std::vector<std::pair<ZVFomixXResource, std::string>> tracks;
    if (auto info = infoVerdict(*package, dryRun, inPlace)) {
        verdicts.push_back(*info);
        if (dryRun) {
            // The tracks are judged as the new Info.plist would list them.
            for (const auto& [kind, file] : trackFilesIn(path))
                if (std::none_of(tracks.begin(), tracks.end(),
                                 [kind = kind](const auto& t) { return t.first == kind; }))
                    tracks.emplace_back(kind, path + "/" + file);
        } else {
            package = Manager::initWithFile(path);
        }
    }
    if (tracks.empty())
        for (auto kind : kTrackKinds)
            if (auto file = package->pathForResource(kind)) tracks.emplace_back(kind, *file);
    // Without an Info.plist (the earlier layout) a track is what is there; with one, a
    // listed file that is gone is said so.
    const bool listed = fileSize(path + "/" + std::string(Manager::kInfoFileName)).has_value();
    bool any = false;
    for (auto kind : kTrackKinds) {
        auto it = std::find_if(tracks.begin(), tracks.end(),
                               [kind](const auto& t) { return t.first == kind; });
        std::optional<std::string> file;
        if (it != tracks.end() && (listed || fileSize(it->second))) file = it->second;
        if (kind == ZVFomixXResourceCursors) {
            if (any) verdicts.push_back(cursorsVerdict(path, file));
        } else if (kind == ZVFomixXResourceVideo && file && !fileSize(*file)) {
            any = true;
            verdicts.push_back({*file, State::Unmendable,
                                *file + " is listed but not there: the recording has no screen"});
        } else if (file) {
            any = true;
            verdicts.push_back(kind == ZVFomixXResourceVideo
                                   ? captureVerdict(*file, dryRun, inPlace)
                                   : wavVerdict(*file, dryRun, inPlace));
        }
    }
    if (!any && verdicts.empty())
        verdicts.push_back({path, State::Unmendable,
                            listed ? path + " lists no track file to mend"
                                   : path + ": not a recording package (no Info.plist and no "
                                            "track files)"});
    const std::string movie = path + "/" + std::string(Manager::kMovieFileName);
    if (fileSize(movie))
        if (std::string problem = ZVMovieFileProblem(movie); !problem.empty())
            verdicts.push_back(
                {movie, State::Notice,
                 movie + " is not a whole movie (" + problem + "); 'zorvan export' makes it anew"});
    return verdicts;
}
