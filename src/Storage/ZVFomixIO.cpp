#include "Storage/ZVFomixIO.h"

#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "Foundation/ZVAlert.h"
#include "Foundation/ZVException.h"
#include "Foundation/ZVLog.h"
#include "Storage/ZVFomixFileReader.h"
#include "Storage/ZVFomixFileWriter.h"
#include "Video/ZVMovieFrame.h"

namespace {
constexpr const char* kUnsupported = "Unsupported FOMIX format";
// Damage owed by frames that were not stored is kept up to this many rectangles; past
// that the next frame is compared whole.
constexpr size_t kMostOwedRects = 256;
// Recording seconds after which a frame is compared whole even with its damage: a change a
// display server failed to report is stored within this time, never lost for good.
constexpr double kWholeComparisonInterval = 1.0;

bool fileExists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

ZVFomixCanvas canvasOf(ZVPixelBuffer& buffer) {
    ZVFomixCanvas c;
    c.base = buffer.baseAddress();
    c.bytesPerRow = static_cast<size_t>(buffer.bytesPerRow());
    c.pixelsWidth = static_cast<size_t>(buffer.pixelsWidth());
    c.pixelsHeight = static_cast<size_t>(buffer.pixelsHeight());
    c.bufferSize = static_cast<size_t>(buffer.bufferSize());
    return c;
}

// A canvas of the header's size, all zero; nullptr when the header's size is not one a
// reader takes.
std::shared_ptr<ZVMovieFrame> makeCanvas(const ZVFomixFileReader& reader) {
    uint32_t width = 0, height = 0;
    if (!reader.canvasSize(width, height)) return nullptr;
    auto canvas = ZVMovieFrame::movieFrameWithSize(
        ZVSize{static_cast<float>(width), static_cast<float>(height)});
    if (canvas) canvas->clearBuffer();
    return canvas;
}
}  // namespace

std::shared_ptr<ZVFomixIO> ZVFomixIO::initWithFile(const std::string& path, int32_t mode) {
    if (mode == kReadMode && !fileExists(path)) return nullptr;
    auto stage = std::shared_ptr<ZVFomixIO>(new ZVFomixIO(path, mode));
    ZVFomixIO* raw = stage.get();
    stage->forwardToDelegate(ZVFomixIODidStartNotification, [raw](const ZVNotification&) {
        if (auto* d = raw->delegate()) d->ZVFomixIODidStart(raw);
    });
    stage->forwardToDelegate(ZVFomixIODidStopNotification, [raw](const ZVNotification&) {
        if (auto* d = raw->delegate()) d->ZVFomixIODidStop(raw);
    });
    return stage;
}

ZVFomixIO::~ZVFomixIO() = default;

void ZVFomixIO::start() {
    if (_mode != kWriteMode && _mode != kReadMode) return;
    launchWorker([this] { _mode == kWriteMode ? fomixWriter() : fomixReader(); },
                 ZVFomixIODidStopNotification);
}

ZVFomixFileInfo ZVFomixIO::fileInfo() const {
    ZVLockGuard guard(_stateLock);
    return _fileInfo;
}

void ZVFomixIO::setFileInfo(const ZVFomixFileInfo& info) {
    ZVLockGuard guard(_stateLock);
    _fileInfo = info;
}

void ZVFomixIO::fail(std::string reason, bool log) {
    if (log) ZVLog("%s", reason.c_str());
    ZVStage::fail(std::move(reason));
}

// The writer worker. It owns the file, the canvas and the block buffer; frames
// come from the source already handed over.
void ZVFomixIO::fomixWriter() {
    ZVFomixFileWriter file;
    file.setBlockBufferLimit(_blockBufferLimit.load());
    {
        ZVLockGuard guard(_stateLock);
        file.setDiskQueue(_diskQueueLimit, _diskWriteHook);
    }
    _droppedFrames.store(0, std::memory_order_relaxed);
    if (!file.open(_fullPath)) {
        // The recording goes on (frames are taken and counted) so that the other tracks
        // are not held up, but the host must hear that this one is lost.
        fail(ZVFormat("Could not open capture file %s for writing: %s", _fullPath.c_str(),
                      std::strerror(errno)));
    }
    _writenFrames.store(0, std::memory_order_relaxed);
    ZVFomixFileInfo header;  // what the worker knows so far; duration moves with each stored frame
    setFileInfo(header);
    _worker.running();
    post(ZVFomixIODidStartNotification);

    // The picture the file holds so far: the last frame compared whole, patched since with
    // what the records compared only where the screen changed stored. Frames are compared
    // with it, never with the frame before them: a change made while that frame was read,
    // after its damage was taken, is in its pixels but only in the next frame's damage.
    std::shared_ptr<ZVMovieFrame> canvas;
    // Damage of frames whose records were not stored, owed to the next comparison; `owedAll`
    // when the next frame must be compared whole.
    ZVDamage owed;
    bool owedAll = true;
    double comparedWholeAt = 0;  // the timestamp of the last frame compared whole
    ZVDamage areas;              // the damage compared this time
    bool reportedOtherSize = false;
    try {
        _worker.loop([&] {
            return _worker.consume(source(), [&](ZVObjectRef object) {
                auto frame = std::dynamic_pointer_cast<ZVMovieFrame>(object);
                if (!frame) return;
                const ZVFrameInfo info = frame->info();
                if (frame->bufferSize() <= 0) return;
                if (!canvas) {
                    header.initialDimensions = info.dimensions;
                    canvas = ZVMovieFrame::movieFrameWithSize(info.dimensions);
                    if (!canvas) return;
                    canvas->clearBuffer();
                }
                // Only frames of the recording's size are compared with the canvas; others
                // are dropped rather than read past either buffer.
                if (frame->bufferSize() != canvas->bufferSize() ||
                    std::abs(frame->bytesPerRow()) != std::abs(canvas->bytesPerRow()) ||
                    frame->pixelsWidth() != canvas->pixelsWidth()) {
                    if (!reportedOtherSize)
                        ZVLog(
                            "Capture file %s: dropped frames of size %dx%d in a recording of %dx%d",
                            _fullPath.c_str(), frame->pixelsWidth(), frame->pixelsHeight(),
                            canvas->pixelsWidth(), canvas->pixelsHeight());
                    reportedOtherSize = true;
                    owedAll = true;  // what changed meanwhile is not known
                    return;
                }
                const bool limited = frame->damage() && !owedAll &&
                                     info.timestamp - comparedWholeAt < kWholeComparisonInterval;
                if (limited) {
                    areas = owed;
                    areas.insert(areas.end(), frame->damage()->begin(), frame->damage()->end());
                }
                ZVFomixFrameInput input;
                // Rows in either memory order; a screen read's fourth bytes count as 0xFF.
                input.pixels = frame->baseAddress();
                input.reference = canvas->baseAddress();
                input.bytesPerRow = static_cast<size_t>(std::abs(frame->bytesPerRow()));
                input.bufferSize = static_cast<size_t>(frame->bufferSize());
                input.pixelsStep = frame->bytesPerRow();
                input.referenceStep = canvas->bytesPerRow();
                input.pixelsWidth = static_cast<size_t>(frame->pixelsWidth());
                input.pixelsAlpha = frame->alphaIgnored() ? ZVFomixOpaqueAlpha() : 0;
                input.referenceAlpha = canvas->alphaIgnored() ? ZVFomixOpaqueAlpha() : 0;
                input.damage = limited ? &areas : nullptr;
                input.info = info;
                if (info.frameFlags & kZVFrameHasKeyStrokes) {
                    input.keyStrokes = &frame->keyStrokes();
                    input.keyText = &frame->keyStrokesString();
                }
                // A disk falling behind first gets smaller records: once the record queue
                // is a quarter full every frame is stored compressed (which needs the
                // chunk list).
                if (file.diskQueueFill() > 0.25)
                    input.info.frameFlags = static_cast<int16_t>(
                        input.info.frameFlags | kZVFrameHasKeyStrokes | kZVFrameCompress);
                _diskQueueFill.store(file.diskQueueFill(), std::memory_order_relaxed);
                ZVFomixEncoded encoded;
                const ZVFomixAppend outcome = file.append(input, encoded);
                if (outcome != ZVFomixAppend::Written) {
                    // Nothing stored: the next comparison must look where this one looked.
                    if (limited && areas.size() <= kMostOwedRects) {
                        owed = std::move(areas);
                    } else {
                        owedAll = true;
                    }
                }
                switch (outcome) {
                    case ZVFomixAppend::Dropped:
                        // The whole frame goes; the next one is compared with the canvas, so
                        // the picture stays right.
                        _droppedFrames.fetch_add(1, std::memory_order_relaxed);
                        return;
                    case ZVFomixAppend::NoMemory:
                        ZVLog("ME-6: fomixWriter failed with malloc error");
                        return;
                    case ZVFomixAppend::Skipped:
                        return;
                    case ZVFomixAppend::Written:
                        // The recording lasts until its last stored frame: frames dropped
                        // or skipped after it (a lost display reads blank) hold no picture.
                        header.duration = info.timestamp;
                        setFileInfo(ZVFomixFileInfo{0, header.duration, 0, {0, 0}, 0});
                        _writenFrames.fetch_add(1, std::memory_order_relaxed);
                        if (limited) {
                            file.patch(canvas->baseAddress(), canvas->bytesPerRow());
                        } else {
                            // Compared whole, the frame is what the file holds now.
                            canvas = std::move(frame);
                            comparedWholeAt = info.timestamp;
                        }
                        owed.clear();
                        owedAll = false;
                        return;
                }
            });
        });
        header.signature = kZVFomixSignature;
        header.frames = static_cast<uint32_t>(_writenFrames.load(std::memory_order_relaxed));
        file.finish(header);  // after a failed write it throws, the header written
        setFileInfo(header);
        _diskQueueFill.store(0, std::memory_order_relaxed);
    } catch (const ZVException& e) {
        // A full disk or a file-size limit: what was written stays readable, since the
        // header needs no new space; the host hears why the track ended.
        // When finish() itself threw, it has closed the file and set the header to the
        // records on the disk; only a failure met while appending leaves it to do here.
        header.signature = kZVFomixSignature;
        if (file.isOpen()) {
            header.frames = static_cast<uint32_t>(_writenFrames.load(std::memory_order_relaxed));
            try {
                file.finish(header);
            } catch (const ZVException&) {
                file.close();
            }
        }
        setFileInfo(header);
        _diskQueueFill.store(0, std::memory_order_relaxed);
        fail(e.reason());
    }
}

// The reader worker. It owns the file and the canvas; each frame it makes is handed over
// to the destination.
void ZVFomixIO::fomixReader() {
    ZVFomixFileReader reader;
    if (!reader.openFile(_fullPath)) {
        fail(ZVFormat("Could not open capture file %s: %s", _fullPath.c_str(),
                      std::strerror(errno)));
        return;
    }
    std::optional<ZVFomixFileInfo> assumed;
    {
        ZVLockGuard guard(_stateLock);
        assumed = _assumedHeader;
    }
    if (assumed) {
        reader.assumeHeader(*assumed);
    } else if (!reader.readHeader()) {
        // Nothing on this thread would catch the exception of the header check: the
        // reason is logged and kept, and did-stop tells the host that the run is over.
        ZVException refused("-[ZVFomixIO fomixReader]", kUnsupported);
        fail(ZVFormat("%s: %s (%s)", refused.name().c_str(), refused.reason().c_str(),
                      _fullPath.c_str()));
        return;
    }
    const ZVFomixFileInfo header = reader.header();
    setFileInfo(header);
    std::shared_ptr<ZVMovieFrame> canvas = makeCanvas(reader);
    if (!canvas && header.frames > 0) {
        fail(ZVFormat("Capture file %s: a picture of size %s cannot be read", _fullPath.c_str(),
                      ZVStringFromSize(header.initialDimensions).c_str()));
        return;
    }
    _readFrames.store(0, std::memory_order_relaxed);
    _worker.running();
    post(ZVFomixIODidStartNotification);

    // Frames of records that change nothing share the canvas instead of copying it (a
    // compressor that leaves them out never looks at their pixels). While they hold it,
    // `lent` is their reference and `returned` is set once the last of them let go (by
    // whichever thread that is); a record with blocks is then applied to a copy.
    std::shared_ptr<const ZVPixelBuffer> lent;
    std::shared_ptr<std::atomic<bool>> returned;
    ZVFomixCanvas target = canvas ? canvasOf(*canvas) : ZVFomixCanvas{};
    target.writable = [&]() -> uint8_t* {
        if (!lent) return canvas->baseAddress();
        lent.reset();
        if (!returned->load(std::memory_order_acquire)) {
            auto fresh = ZVMovieFrame::movieFrameWithSize(canvas->info().dimensions);
            if (!fresh) return canvas->baseAddress();  // (a pool that failed throws instead)
            std::memcpy(fresh->baseAddress(), canvas->baseAddress(),
                        static_cast<size_t>(canvas->bufferSize()));
            canvas = std::move(fresh);
        }
        returned.reset();
        return canvas->baseAddress();
    };

    ZVFomixRecord record;
    _worker.loop([&] {
        if (!canvas) {  // a file of no frames and no size: nothing to read
            _worker.endOfStream();
            return ZVStep::Worked;
        }
        return _worker.produce(destination(), [&] {
            target.base = canvas->baseAddress();
            const ZVFomixStep step = reader.readFrame(record, target, true);
            const int32_t index = _readFrames.load(std::memory_order_relaxed);
            switch (step) {
                case ZVFomixStep::End:
                    if (static_cast<uint32_t>(index) < header.frames)
                        fail(ZVFormat("Capture file %s ends after %d of %u frames",
                                      _fullPath.c_str(), index, header.frames));
                    _worker.endOfStream();
                    return ZVStep::Worked;
                case ZVFomixStep::ShortPayload:
                    ZVLog("Frame checksum incorrect.");
                    fail(ZVFormat("Capture file %s ends inside frame record %d", _fullPath.c_str(),
                                  index + 1),
                         false);
                    stop();
                    return ZVStep::Worked;
                case ZVFomixStep::BadRecord:
                    fail(
                        ZVFormat("Capture file %s: frame record %d is damaged (%s); reading "
                                 "stops there",
                                 _fullPath.c_str(), index + 1, reader.problem().c_str()));
                    stop();
                    return ZVStep::Worked;
                case ZVFomixStep::FailedFrame:
                    // The frame is still handed on as far as it was applied.
                    ZVLog("Decompression error. Stoping read process.");
                    fail(ZVFormat("Capture file %s: frame record %d: %s", _fullPath.c_str(),
                                  index + 1, reader.problem().c_str()),
                         false);
                    stop();
                    break;
                case ZVFomixStep::Frame:
                    break;
            }
            try {
                // A whole record of no blocks left the canvas as the frame before it was.
                const bool repeats =
                    step == ZVFomixStep::Frame && index > 0 && record.info.blocks == 0;
                if (repeats && !lent) {
                    returned = std::make_shared<std::atomic<bool>>(false);
                    lent = std::shared_ptr<const ZVPixelBuffer>(
                        canvas.get(), [keep = canvas, done = returned](const ZVPixelBuffer*) {
                            done->store(true, std::memory_order_release);
                        });
                }
                auto frame = repeats ? ZVMovieFrame::movieFrameWithInfo(record.info, lent)
                                     : ZVMovieFrame::movieFrameWithInfo(record.info);
                if (!frame) {
                    stop();
                    return ZVStep::Worked;
                }
                if (!repeats)
                    std::memcpy(
                        frame->baseAddress(), canvas->baseAddress(),
                        static_cast<size_t>(std::min(frame->bufferSize(), canvas->bufferSize())));
                frame->setPixelsRepeatPrevious(repeats);
                if (record.hasKeyStrokes) frame->setKeyStrokes(std::move(record.keyStrokes));
                if (record.hasKeyText) frame->setKeyStrokesString(std::move(record.keyText));
                destination().addObject(std::move(frame));
                const int32_t read = _readFrames.fetch_add(1, std::memory_order_relaxed) + 1;
                if (static_cast<uint32_t>(read) == header.frames) {
                    _worker.endOfStream();
                }
            } catch (const ZVException& e) {
                ZVRunAlertPanel(e.name(), e.reason());
                stop();
            }
            return ZVStep::Worked;
        });
    });
}

ZVFomixFileInfo ZVFomixIO::infoForFile(const std::string& path) {
    if (!fileExists(path)) return ZVFomixFileInfo{};
    ZVFomixFileReader reader;
    // A file that cannot be opened reads as empty, which no signature matches.
    if (!reader.openFile(path)) reader.openMemory(nullptr, 0);
    if (!reader.readHeader()) throw ZVException("+[ZVFomixIO infoForFile:]", kUnsupported);
    return reader.header();
}

std::shared_ptr<ZVImage> ZVFomixIO::imageAtIndex(uint32_t index, const std::string& path) {
    ZVFomixFileReader reader;
    if (!reader.openFile(path)) reader.openMemory(nullptr, 0);
    if (!reader.readHeader()) throw ZVException("+[ZVFomixIO imageAtIndex:ofFile:]", kUnsupported);
    std::shared_ptr<ZVMovieFrame> canvas = makeCanvas(reader);
    if (!canvas) return nullptr;
    ZVFomixRecord record;
    for (uint32_t i = 0; i < index; ++i) {
        const ZVFomixStep step = reader.readFrame(record, canvasOf(*canvas), false);
        if (step == ZVFomixStep::End) break;
        if (step == ZVFomixStep::ShortPayload) {
            ZVLog("Frame checksum incorrect.");
            break;
        }
        if (step != ZVFomixStep::Frame) return nullptr;
    }
    return canvas->createRGBImageFromBufferData();
}
