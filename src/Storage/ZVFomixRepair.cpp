#include "Storage/ZVFomixRepair.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <optional>
#include <vector>

#include "Common/fnocache.h"
#include "Foundation/ZVLog.h"
#include "Storage/ZVFomixFileReader.h"

namespace {
using Outcome = ZVFomixRepairResult::Outcome;

constexpr size_t kScanWindow = 1 << 20;

ZVFomixRepairResult failed(ZVFomixRepairResult r, const std::string& path, const char* what) {
    const int saved = errno;
    r.outcome = Outcome::Failed;
    r.message = ZVFormat("%s: %s: %s", path.c_str(), what, std::strerror(saved));
    if (saved == ENOSPC)
        r.message +=
            " (no room for the mended copy; 'zorvan repair --in-place' needs none "
            "when only the header is missing)";
    return r;
}

ZVFomixRepairResult refused(ZVFomixRepairResult r, std::string message) {
    r.outcome = Outcome::NotACaptureFile;
    r.message = std::move(message);
    return r;
}

// One whole record as found in the damaged file.
struct Kept {
    uint64_t begin, end;
    double timestamp;
    bool salvaged;  // found past a damaged record
};

// Reads the file's records from offset 28 on the canvas's size and keeps every whole one,
// stepping over damaged stretches to the next record the reader accepts.
class Salvage {
  public:
    // Reading starts at `start`: past the header, or past a damaged start of the file.
    Salvage(ZVFomixFileReader& reader, int fd, const ZVFrameInfo& first, uint32_t width,
            uint32_t height, uint64_t start)
        : _reader(reader),
          _fd(fd),
          _first(first),
          _width(width),
          _height(height),
          _start(start),
          _salvaging(start > kZVFomixHeaderSize) {
        _canvas = ZVFomixMakeCanvas(width, height, _pixels);
    }

    void run(ZVFomixRepairResult& result) {
        _reader.seek(_start);
        ZVFomixRecord record;
        for (;;) {
            const ZVFomixStep step = _reader.readFrame(record, _canvas, false);
            if (step == ZVFomixStep::Frame) {
                keep(record);
                continue;
            }
            if (step == ZVFomixStep::End && _reader.position() == _reader.size()) return;
            if (result.stopReason.empty()) {
                result.stopReason = step == ZVFomixStep::End || step == ZVFomixStep::ShortPayload
                                        ? ZVFormat("record %zu is torn", _kept.size() + 1)
                                        : ZVFormat("record %zu is damaged (%s)", _kept.size() + 1,
                                                   _reader.problem().c_str());
            }
            // A record may start anywhere after the last good record's own 44 bytes: a
            // damaged size can make that record swallow the ones after it.
            const uint64_t from = _kept.empty() ? record.startOffset + 1 : _kept.back().begin + 1;
            _salvaging = true;
            if (!resumeAfter(from, record)) return;
        }
    }

    const std::vector<Kept>& kept() const { return _kept; }
    uint32_t salvaged() const {
        return static_cast<uint32_t>(
            std::count_if(_kept.begin(), _kept.end(), [](const Kept& k) { return k.salvaged; }));
    }

  private:
    void keep(const ZVFomixRecord& record) {
        _kept.push_back({record.startOffset, record.endOffset, record.info.timestamp, _salvaging});
    }

    // Finds the first offset from `from` on where a whole record reads, keeps it and
    // leaves the reader after it; false when none is left.
    bool resumeAfter(uint64_t from, ZVFomixRecord& record) {
        const uint64_t size = _reader.size();
        std::vector<uint8_t> window(kScanWindow + kZVFomixInfoSize);
        for (uint64_t at = from; at + kZVFomixInfoSize <= size; at += kScanWindow) {
            const size_t want = static_cast<size_t>(std::min<uint64_t>(window.size(), size - at));
            const ssize_t got = pread(_fd, window.data(), want, static_cast<off_t>(at));
            if (got < static_cast<ssize_t>(kZVFomixInfoSize)) return false;
            const size_t last = std::min<size_t>(kScanWindow, got - kZVFomixInfoSize + 1);
            for (size_t i = 0; i < last; ++i) {
                // Cheap test first: the picture size bytes of every record are the same.
                if (std::memcmp(window.data() + i + offsetof(ZVFrameInfo, dimensions),
                                &_first.dimensions, sizeof _first.dimensions) != 0)
                    continue;
                ZVFrameInfo info;
                std::memcpy(&info, window.data() + i, sizeof info);
                const uint64_t offset = at + i;
                if (!ZVFomixFileReader::isPlausibleInfo(info, _width, _height,
                                                        size - offset - kZVFomixInfoSize))
                    continue;
                _reader.seek(offset);
                if (_reader.readFrame(record, _canvas, false) != ZVFomixStep::Frame) continue;
                // A good record inside the previous one shows that one's size was wrong;
                // time never runs backwards in a recording.
                size_t remain = _kept.size();
                while (remain && _kept[remain - 1].end > offset) --remain;
                if (remain && record.info.timestamp < _kept[remain - 1].timestamp) continue;
                _kept.resize(remain);
                keep(record);
                return true;
            }
        }
        return false;
    }

    ZVFomixFileReader& _reader;
    int _fd;
    ZVFrameInfo _first;
    uint32_t _width, _height;
    uint64_t _start;
    std::vector<uint8_t> _pixels;
    ZVFomixCanvas _canvas;
    std::vector<Kept> _kept;
    bool _salvaging;
};

// Where the first whole record lies, from `from` on, in a file whose start is damaged: its
// 44 bytes give a picture size this reader takes and fit it, it reads whole, and so does
// the record after it (or it ends the file). The picture size comes from the record itself,
// so it takes two whole records in a row: foreign bytes that look like one are not taken.
// Its info record goes to `first`.
std::optional<uint64_t> findFirstRecord(ZVFomixFileReader& reader, int fd, uint64_t from,
                                        size_t maxCanvasBytes, ZVFrameInfo& first) {
    const uint64_t size = reader.size();
    std::vector<uint8_t> window(kScanWindow + kZVFomixInfoSize), pixels;
    ZVSize made{};
    ZVFomixCanvas canvas;
    ZVFomixRecord record;
    for (uint64_t at = from; at + kZVFomixInfoSize <= size; at += kScanWindow) {
        const size_t want = static_cast<size_t>(std::min<uint64_t>(window.size(), size - at));
        const ssize_t got = pread(fd, window.data(), want, static_cast<off_t>(at));
        if (got < static_cast<ssize_t>(kZVFomixInfoSize)) return std::nullopt;
        const size_t last = std::min<size_t>(kScanWindow, got - kZVFomixInfoSize + 1);
        for (size_t i = 0; i < last; ++i) {
            ZVFrameInfo info;
            std::memcpy(&info, window.data() + i, sizeof info);
            const ZVSize d = info.dimensions;
            // Cheap test first: a picture's sides are whole numbers.
            if (!(d.width >= 1 && d.height >= 1 && d.width == std::floor(d.width) &&
                  d.height == std::floor(d.height)))
                continue;
            ZVFomixFileInfo assumed;
            assumed.signature = kZVFomixSignature;
            assumed.initialDimensions = d;
            reader.assumeHeader(assumed);
            uint32_t width = 0, height = 0;
            const uint64_t offset = at + i;
            if (!reader.canvasSize(width, height, maxCanvasBytes) ||
                !ZVFomixFileReader::isPlausibleInfo(info, width, height,
                                                    size - offset - kZVFomixInfoSize))
                continue;
            if (!(made == d)) {
                canvas = ZVFomixMakeCanvas(width, height, pixels);
                made = d;
            }
            reader.seek(offset);
            if (reader.readFrame(record, canvas, false) != ZVFomixStep::Frame) continue;
            if (reader.position() != size &&
                reader.readFrame(record, canvas, false) != ZVFomixStep::Frame)
                continue;
            first = info;
            return offset;
        }
    }
    return std::nullopt;
}

// Whether the reader takes the whole file as its header says, as `zorvan info` judges it.
bool readsToItsEnd(ZVFomixFileReader& reader, size_t maxCanvasBytes) {
    const ZVFomixFileInfo& h = reader.header();
    uint32_t width = 0, height = 0;
    if (!reader.canvasSize(width, height, maxCanvasBytes)) return h.frames == 0;
    std::vector<uint8_t> pixels;
    const ZVFomixCanvas canvas = ZVFomixMakeCanvas(width, height, pixels);
    ZVFomixRecord record;
    uint32_t records = 0;
    ZVFomixStep step;
    while ((step = reader.readFrame(record, canvas, false)) == ZVFomixStep::Frame) ++records;
    return step == ZVFomixStep::End && reader.position() == reader.size() && records == h.frames;
}

// Writes the header and the kept records to `to`, synced to the disk.
bool writeCopy(int from, const std::string& to, const ZVFomixFileInfo& header,
               const std::vector<Kept>& kept) {
    const int fd = open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    bool ok = ZVWriteAt(fd, &header, sizeof header, 0);
    off_t out = sizeof header;
    std::vector<uint8_t> buffer(kScanWindow);
    for (size_t i = 0; ok && i < kept.size(); ++i) {
        uint64_t begin = kept[i].begin, end = kept[i].end;
        while (i + 1 < kept.size() && kept[i + 1].begin == end) end = kept[++i].end;
        for (uint64_t at = begin; ok && at < end;) {
            const size_t n = static_cast<size_t>(std::min<uint64_t>(buffer.size(), end - at));
            const ssize_t got = pread(from, buffer.data(), n, static_cast<off_t>(at));
            ok = got == static_cast<ssize_t>(n) && ZVWriteAt(fd, buffer.data(), n, out);
            at += n;
            out += static_cast<off_t>(n);
        }
    }
    ok = ok && fsync(fd) == 0;
    const int saved = errno;
    close(fd);
    if (!ok) unlink(to.c_str());
    errno = saved;
    return ok;
}
}  // namespace

std::string ZVFomixDamagedPath(const std::string& path) {
    std::string candidate = path + ".damaged";
    struct stat st;
    for (int n = 2; lstat(candidate.c_str(), &st) == 0; ++n)
        candidate = path + ".damaged-" + std::to_string(n);
    return candidate;
}

ZVFomixRepairResult ZVFomixRepair(const std::string& path, bool dryRun, bool inPlace,
                                  size_t maxCanvasBytes) {
    ZVFomixRepairResult result;
    ZVFomixFileReader reader;
    if (!reader.openFile(path)) return failed(result, path, "cannot open");
    const uint64_t size = reader.size();
    result.originalSize = result.keptSize = size;

    if (reader.readHeader()) {
        result.header = reader.header();
        if (readsToItsEnd(reader, maxCanvasBytes)) {
            result.outcome = Outcome::AlreadyReadable;
            result.message = ZVFormat("%s is readable already (%u frames); nothing changed",
                                      path.c_str(), result.header.frames);
            return result;
        }
        if (result.header.signature != kZVFomixSignature)
            return refused(result, path +
                                       " is damaged, but it was written in another layout "
                                       "or byte order, which repair does not mend; "
                                       "nothing changed");
    }
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return failed(result, path, "cannot open");
    struct Closer {
        int fd;
        ~Closer() { close(fd); }
    } closer{fd};
    uint8_t head[kZVFomixHeaderSize + kZVFomixInfoSize] = {};
    const ssize_t got = pread(fd, head, sizeof head, 0);
    ZVFomixFileInfo found;
    std::memcpy(&found, head, sizeof found);
    const bool zeroHeader =
        got >= static_cast<ssize_t>(kZVFomixHeaderSize) &&
        std::all_of(head, head + kZVFomixHeaderSize, [](uint8_t b) { return !b; });
    const bool ownHeader = zeroHeader || found.signature == kZVFomixSignature;

    // The first record must be one a writer makes; it gives the recording's picture size.
    // When it is damaged (or the header with it), the records after it are looked for as
    // past a damaged record in the middle.
    ZVFomixFileInfo header;
    header.signature = kZVFomixSignature;
    std::vector<Kept> kept;
    if (size > kZVFomixHeaderSize) {
        ZVFrameInfo first{};
        std::memcpy(&first, head + kZVFomixHeaderSize, sizeof first);
        header.initialDimensions = first.dimensions;
        reader.assumeHeader(header);
        uint32_t width = 0, height = 0;
        uint64_t start = kZVFomixHeaderSize;
        if (!ownHeader || got != static_cast<ssize_t>(sizeof head) ||
            !reader.canvasSize(width, height, maxCanvasBytes) ||
            !ZVFomixFileReader::isPlausibleInfo(first, width, height, size - sizeof head)) {
            auto anchor = findFirstRecord(reader, fd, kZVFomixHeaderSize, maxCanvasBytes, first);
            if (!anchor)
                return refused(result, path + (ownHeader ? " is not a capture file (its first "
                                                           "record is not one a recording "
                                                           "makes, nor is any after it); "
                                                           "nothing changed"
                                                         : " is not a capture file; nothing "
                                                           "changed"));
            start = *anchor;
            header.initialDimensions = first.dimensions;
            reader.assumeHeader(header);
            reader.canvasSize(width, height, maxCanvasBytes);
            result.stopReason =
                ZVFormat("the %llu bytes before its first whole record are damaged",
                         static_cast<unsigned long long>(start - kZVFomixHeaderSize));
        }
        Salvage salvage(reader, fd, first, width, height, start);
        salvage.run(result);
        kept = salvage.kept();
        result.salvagedFrames = salvage.salvaged();
    } else if (!ownHeader) {
        return refused(result, path + " is not a capture file; nothing changed");
    }
    header.frames = static_cast<uint32_t>(kept.size());
    header.duration = kept.empty() ? 0 : kept.back().timestamp;
    if (kept.empty()) header.initialDimensions = ZVSize{};
    result.header = header;
    result.keptSize = kZVFomixHeaderSize;
    for (const Kept& k : kept) result.keptSize += k.end - k.begin;
    // Only the header and a torn tail: the records lie where they must already.
    const bool onlyTail = kept.empty() || (kept.front().begin == kZVFomixHeaderSize &&
                                           kept.back().end == result.keptSize);

    if (!dryRun) {
        if (inPlace && onlyTail) {
            const int wfd = open(path.c_str(), O_WRONLY | O_CLOEXEC);
            if (wfd < 0) return failed(result, path, "cannot open for writing");
            // Cut first, header last: a repair cut short leaves a file that is still refused
            // and can be repaired again, never a header that counts bytes that are gone.
            const bool ok = ftruncate(wfd, static_cast<off_t>(result.keptSize)) == 0 &&
                            ZVWriteAt(wfd, &header, sizeof header, 0) && fsync(wfd) == 0;
            const int saved = errno;
            close(wfd);
            errno = saved;
            if (!ok) return failed(result, path, "cannot write");
        } else {
            const std::string temporary = path + ".repairing";
            if (!writeCopy(fd, temporary, header, kept))
                return failed(result, temporary, "cannot write the mended copy");
            if (!inPlace) {
                result.damagedPath = ZVFomixDamagedPath(path);
                if (rename(path.c_str(), result.damagedPath.c_str()) != 0) {
                    const int saved = errno;
                    unlink(temporary.c_str());
                    errno = saved;
                    result.damagedPath.clear();
                    return failed(result, path, "cannot keep the original");
                }
            }
            if (rename(temporary.c_str(), path.c_str()) != 0) {
                const int saved = errno;
                if (!result.damagedPath.empty()) rename(result.damagedPath.c_str(), path.c_str());
                unlink(temporary.c_str());
                errno = saved;
                result.damagedPath.clear();
                return failed(result, path, "cannot put the mended copy in place");
            }
        }
    }
    result.outcome = Outcome::Repaired;
    std::string salvaged = result.salvagedFrames ? ZVFormat("; %u of them found past damaged bytes",
                                                            result.salvagedFrames)
                                                 : std::string();
    std::string left =
        result.originalSize > result.keptSize
            ? ZVFormat("; %llu damaged or torn bytes left out",
                       static_cast<unsigned long long>(result.originalSize - result.keptSize))
            : std::string();
    std::string reason = result.stopReason.empty() ? "the header was missing" : result.stopReason;
    std::string original =
        dryRun                       ? (inPlace && onlyTail ? ""
                                        : inPlace           ? "; it would be replaced by a mended copy"
                                                  : "; the original would be kept as " + ZVFomixDamagedPath(path))
        : result.damagedPath.empty() ? ""
                                     : "; the original is kept as " + result.damagedPath;
    result.message = ZVFormat("%s: %s (%s): %u whole frames of %s, %.3f s%s%s%s", path.c_str(),
                              dryRun ? "would mend" : "mended", reason.c_str(), header.frames,
                              ZVStringFromSize(header.initialDimensions).c_str(), header.duration,
                              salvaged.c_str(), left.c_str(), original.c_str());
    return result;
}
