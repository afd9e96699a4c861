// zorvan repair: mends a capture file, or every track of a recording package, without
// ever making things worse: originals are kept, foreign files are left alone.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "Audio/ZVWavHeader.h"
#include "ZVCommand.h"
#include "Zorvan.h"

namespace {
const char* kName = "repair";

struct Options {
    bool dryRun = false;
    bool inPlace = false;
};

bool exists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
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

// Fixes the sizes in a WAV header that its writer never got to update: the samples are
// all there, the header does not count them. False with a line when it cannot.
bool repairWav(const std::string& path, const Options& o, std::string& line) {
    std::string error;
    auto d = ZVWavHeader::describeFile(path, &error);
    if (!d) {
        line = error;
        return false;
    }
    const ZVWavLayout layout = ZVWavHeader::layoutFor(d->format);
    const uint64_t frameBytes =
        uint64_t(d->format.bitsPerChannel) * uint64_t(d->format.numberOfChannels) / 8;
    struct stat st;
    if (stat(path.c_str(), &st) != 0 || frameBytes == 0 ||
        st.st_size < static_cast<off_t>(layout.dataOffset)) {
        line = path + ": its header cannot be mended";
        return false;
    }
    const uint64_t frames = (uint64_t(st.st_size) - layout.dataOffset) / frameBytes;
    if (frames <= d->frames || frames > UINT32_MAX) {
        line = ZVFormat("%s is readable already (%u frames); nothing changed", path.c_str(),
                        d->frames);
        return true;
    }
    const double seconds = d->format.sampleRate > 0 ? double(frames) / d->format.sampleRate : 0;
    if (o.dryRun) {
        line = ZVFormat("%s: would count %llu frames (%.3f s) in its header instead of %u",
                        path.c_str(), static_cast<unsigned long long>(frames), seconds, d->frames);
        return true;
    }
    std::string kept;
    if (!o.inPlace) {
        kept = ZVFomixDamagedPath(path);
        if (!copyFile(path, kept)) {
            line = path + ": cannot keep the original: " + std::strerror(errno);
            return false;
        }
    }
    const auto bytes =
        ZVWavHeader::bytes(ZVWavHeader::records(d->format, static_cast<uint32_t>(frames)), layout);
    const int fd = open(path.c_str(), O_WRONLY | O_CLOEXEC);
    const bool ok = fd >= 0 && ZVWriteAt(fd, bytes.data(), bytes.size(), 0) && fsync(fd) == 0;
    const int saved = errno;
    if (fd >= 0) close(fd);
    if (!ok) {
        line = path + ": cannot write its header: " + std::strerror(saved);
        return false;
    }
    line = ZVFormat("%s: mended: its header counts %llu frames (%.3f s)%s", path.c_str(),
                    static_cast<unsigned long long>(frames), seconds,
                    kept.empty() ? "" : ("; the original is kept as " + kept).c_str());
    return true;
}

bool report(const ZVFomixRepairResult& r, std::string& line) {
    line = r.message;
    using Outcome = ZVFomixRepairResult::Outcome;
    return r.outcome == Outcome::AlreadyReadable || r.outcome == Outcome::Repaired;
}

// An Info.plist that cannot be read is kept aside and a new one lists the track files
// the package holds, under their usual names.
bool repairInfo(const std::string& package, const std::string& problem, const Options& o,
                std::string& line) {
    const std::string info = package + "/" + std::string(ZVFomixXManager::kInfoFileName);
    ZVValue tracks = ZVValue::array();
    std::string names;
    for (auto kind : {ZVFomixXResourceVideo, ZVFomixXResourceAudio, ZVFomixXResourceSystemAudio,
                      ZVFomixXResourceCursors}) {
        const std::string type(ZVFomixXManager::typeForResource(kind));
        const std::string file =
            type + "." + std::string(ZVFomixXManager::extensionForResource(kind));
        if (!exists(package + "/" + file)) continue;
        ZVValue entry = ZVValue::dict();
        entry.set(ZVFomixXManager::kNameKey, type);
        entry.set(ZVFomixXManager::kPathKey, file);
        entry.set(ZVFomixXManager::kTypeKey, type);
        tracks.append(std::move(entry));
        names += (names.empty() ? "" : ", ") + file;
    }
    if (o.dryRun) {
        line = problem + "; would list " + (names.empty() ? "no tracks" : names) + " anew";
        return true;
    }
    std::string kept;
    if (!o.inPlace) {
        kept = ZVFomixDamagedPath(info);
        if (rename(info.c_str(), kept.c_str()) != 0) {
            line = info + ": cannot keep the original: " + std::strerror(errno);
            return false;
        }
    }
    ZVValue dict = ZVValue::dict();
    dict.set(ZVFomixXManager::kVersionKey, std::string(ZVFomixXManager::kCurrentVersion));
    dict.set(ZVFomixXManager::kTracksKey, std::move(tracks));
    std::string error;
    if (!dict.writeFile(info, false, &error)) {
        line = info + ": " + error;
        return false;
    }
    line = problem + "; listed " + (names.empty() ? "no tracks" : names) + " anew" +
           (kept.empty() ? "" : "; the original is kept as " + kept);
    return true;
}

int repairPackage(const std::string& path, const Options& o) {
    auto package = ZVFomixXManager::initWithFile(path);
    bool ok = true;
    std::string line;
    auto say = [&](bool fine) {
        ok = ok && fine;
        std::fprintf(fine ? stdout : stderr, "%s%s\n", fine ? "" : "zorvan repair: ", line.c_str());
    };
    if (!package->infoError().empty()) {
        say(repairInfo(path, package->infoError(), o, line));
        if (!o.dryRun) package = ZVFomixXManager::initWithFile(path);
    }
    bool any = false;
    if (auto video = package->pathForResource(ZVFomixXResourceVideo); video && exists(*video)) {
        any = true;
        say(report(ZVFomixRepair(*video, o.dryRun, o.inPlace), line));
    }
    for (auto kind : {ZVFomixXResourceAudio, ZVFomixXResourceSystemAudio}) {
        if (auto wav = package->pathForResource(kind); wav && exists(*wav)) {
            any = true;
            say(repairWav(*wav, o, line));
        }
    }
    auto cursors = package->pathForResource(ZVFomixXResourceCursors);
    if (any && !(cursors && exists(*cursors)))
        std::printf("%s: no cursor list was written; the pointer cannot be drawn on export\n",
                    path.c_str());
    if (!any) {
        line = path + " holds no track to mend (is it a recording package?)";
        say(false);
    }
    return ok ? 0 : 1;
}

int run(const std::vector<std::string>& args) {
    std::string path;
    Options o;
    for (const auto& a : args) {
        if (a == "--dry-run")
            o.dryRun = true;
        else if (a == "--in-place")
            o.inPlace = true;
        else if (path.empty())
            path = a;
        else
            return ZVCommandFail(kName, "unexpected argument '" + a + "' (see --help)");
    }
    if (path.empty()) return ZVCommandFail(kName, "expects a CAPTURE file or PACKAGE (see --help)");
    struct stat st;
    if (stat(path.c_str(), &st) != 0)
        return ZVCommandFail(kName, path + ": " + std::strerror(errno));
    if (S_ISDIR(st.st_mode)) return repairPackage(path, o);
    const ZVFomixRepairResult result = ZVFomixRepair(path, o.dryRun, o.inPlace);
    std::string line;
    if (!report(result, line)) return ZVCommandFail(kName, line);
    std::printf("%s\n", line.c_str());
    return 0;
}

const ZVCommand::Registration reg(
    {kName, "mend a recording whose writer never finished or whose file was damaged",
     "usage: zorvan repair [--dry-run] [--in-place] CAPTURE|PACKAGE\n\n"
     "Mends what a crash, a full disk or a damaged disk left behind, and never makes it\n"
     "worse. For a capture file: it reads every whole frame record, steps over damaged\n"
     "records to the next one that reads, leaves a torn last record out, and writes the\n"
     "header (frames, duration, picture size) into a mended copy that takes the file's\n"
     "place; the original is kept as NAME.damaged. For a recording package: the same for\n"
     "its capture file, the sizes in its WAV headers, and an Info.plist that cannot be\n"
     "read (a new one lists the track files present). A file that is not a capture file\n"
     "(its first record is not one a recording makes) and a file that reads already are\n"
     "left as they are.\n"
     "  --dry-run   say what would be done, change nothing\n"
     "  --in-place  keep no copy of the original; a capture file that only lacks its header\n"
     "              is then mended where it lies (this needs no free space)\n"
     "Exits with 1 when something could not be mended or is not a recording.\n",
     run});
}  // namespace
