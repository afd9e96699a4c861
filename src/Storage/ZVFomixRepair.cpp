#include "Storage/ZVFomixRepair.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "Foundation/ZVLog.h"
#include "Storage/ZVFomixFileReader.h"

namespace {
using Outcome = ZVFomixRepairResult::Outcome;

ZVFomixRepairResult failed(ZVFomixRepairResult r, const std::string& path, const char* what) {
    r.outcome = Outcome::Failed;
    r.message = ZVFormat("%s: %s: %s", path.c_str(), what, std::strerror(errno));
    return r;
}

const char* stepReason(ZVFomixStep step) {
    switch (step) {
        case ZVFomixStep::ShortPayload:
            return "the last record is torn";
        case ZVFomixStep::FailedFrame:
            return "a record's blocks do not fit the picture";
        case ZVFomixStep::BadRecord:
            return "a record is damaged";
        default:
            return "";
    }
}
}  // namespace

ZVFomixRepairResult ZVFomixRepair(const std::string& path, bool dryRun) {
    ZVFomixRepairResult result;
    ZVFomixFileReader reader;
    if (!reader.openFile(path)) return failed(result, path, "cannot open");
    result.originalSize = result.keptSize = reader.size();

    // A header that is accepted is left alone, whatever follows it.
    if (reader.readHeader()) {
        result.outcome = Outcome::AlreadyReadable;
        result.header = reader.header();
        result.message = ZVFormat("%s is readable already (%u frames); nothing changed",
                                  path.c_str(), result.header.frames);
        return result;
    }
    uint8_t head[kZVFomixHeaderSize + kZVFomixInfoSize] = {};
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return failed(result, path, "cannot open");
    const ssize_t got = pread(fd, head, sizeof head, 0);
    close(fd);
    const bool zeroHeader =
        got >= static_cast<ssize_t>(kZVFomixHeaderSize) &&
        std::all_of(head, head + kZVFomixHeaderSize, [](uint8_t b) { return !b; });
    if (!zeroHeader) {
        result.outcome = Outcome::NotACaptureFile;
        result.message = ZVFormat("%s is not a capture file; nothing changed", path.c_str());
        return result;
    }

    // The first record's size is the recording's; the writer wrote in this machine's order.
    ZVFomixFileInfo header;
    header.signature = kZVFomixSignature;
    ZVFrameInfo first{};
    if (got == static_cast<ssize_t>(sizeof head)) {
        std::memcpy(&first, head + kZVFomixHeaderSize, sizeof first);
        header.initialDimensions = first.dimensions;
    }
    reader.assumeHeader(header);
    uint64_t kept = kZVFomixHeaderSize;
    uint32_t width = 0, height = 0;
    if (reader.canvasSize(width, height)) {
        std::vector<uint8_t> pixels;
        const ZVFomixCanvas canvas = ZVFomixMakeCanvas(width, height, pixels);
        ZVFomixRecord record;
        for (;;) {
            const ZVFomixStep step = reader.readFrame(record, canvas, false);
            if (step != ZVFomixStep::Frame) {
                if (step != ZVFomixStep::End || reader.size() != kept)
                    result.stopReason =
                        step == ZVFomixStep::End ? "the last record is torn" : stepReason(step);
                if (!reader.problem().empty()) result.stopReason += " (" + reader.problem() + ")";
                break;
            }
            ++header.frames;
            header.duration = record.info.timestamp;
            kept = record.endOffset;
        }
    } else if (result.originalSize > kZVFomixHeaderSize) {
        result.stopReason = "the first record is torn or damaged";
        header.initialDimensions = ZVSize{};
    }
    if (header.frames == 0) header.initialDimensions = ZVSize{};
    result.header = header;
    result.keptSize = kept;

    if (!dryRun) {
        const int wfd = open(path.c_str(), O_WRONLY | O_CLOEXEC);
        if (wfd < 0) return failed(result, path, "cannot open for writing");
        // Cut first, header last: a repair cut short leaves a file that is still refused
        // and can be repaired again, never a header that counts bytes that are gone.
        const bool ok = ftruncate(wfd, static_cast<off_t>(kept)) == 0 &&
                        pwrite(wfd, &header, sizeof header, 0) == sizeof header && fsync(wfd) == 0;
        const int saved = errno;
        close(wfd);
        errno = saved;
        if (!ok) return failed(result, path, "cannot write");
    }
    result.outcome = Outcome::Repaired;
    result.message =
        ZVFormat("%s: %s%u whole frames of %s, %.3f s; %s%llu bytes %s", path.c_str(),
                 dryRun ? "would write a header for " : "wrote a header for ", header.frames,
                 ZVStringFromSize(header.initialDimensions).c_str(), header.duration,
                 result.stopReason.empty() ? "" : (result.stopReason + "; ").c_str(),
                 static_cast<unsigned long long>(result.originalSize - kept),
                 dryRun ? "would be cut off" : "cut off");
    return result;
}
