#include "Audio/ZVWavIO.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "Audio/ZVSoundPacket.h"
#include "Audio/ZVWavHeader.h"
#include "Common/fnocache.h"
#include "Foundation/ZVAlert.h"
#include "Foundation/ZVException.h"
#include "Foundation/ZVLog.h"
#include "Foundation/ZVTime.h"
#include "Pipeline/ZVQueue.h"

namespace {

// The file of one run; closed when the worker leaves, whichever way it leaves.
class FileHandle {
  public:
    explicit FileHandle(int fd) : _fd(fd) {}
    ~FileHandle() { close(); }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    int fd() const { return _fd; }
    void close() {
        if (_fd >= 0) ::close(_fd);
        _fd = -1;
    }

  private:
    int _fd;
};

[[noreturn]] void raiseFileError(const char* operation, const std::string& path, const char* what,
                                 int err) {
    throw ZVException(operation, ZVFormat("%s \"%s\": %s", what, path.c_str(), strerror(err)));
}

void writeAt(int fd, const uint8_t* bytes, size_t length, off_t offset, const std::string& path) {
    if (!ZVWriteAt(fd, bytes, length, offset))
        raiseFileError("-[ZVWavIO wavWriter]", path, "Could not write", errno);
}

// Reads until `length` bytes or the end of the file; the count read.
size_t readUpTo(int fd, uint8_t* bytes, size_t length, const std::string& path) {
    size_t total = 0;
    while (total < length) {
        ssize_t n = ::read(fd, bytes + total, length - total);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) raiseFileError("-[ZVWavIO wavReader]", path, "Could not read", errno);
        if (n == 0) break;
        total += size_t(n);
    }
    return total;
}

ZVWavIODelegateInformalProtocol gNoDelegate;

}  // namespace

std::shared_ptr<ZVWavIO> ZVWavIO::initWithFile(const std::string& path, int32_t mode) {
    struct stat st;
    if (mode == kModeRead && ::stat(path.c_str(), &st) != 0) return nullptr;
    std::shared_ptr<ZVWavIO> io(new ZVWavIO(path, mode));
    ZVWavIO* self = io.get();
    auto delegate = [self] {
        ZVWavIODelegateInformalProtocol* d = self->delegate();
        return d ? d : &gNoDelegate;
    };
    io->forwardToDelegate(ZVWavIODidStopNotification, [self, delegate](const ZVNotification&) {
        delegate()->ZVWavIODidStop(self);
    });
    io->forwardToDelegate(ZVWavIODidStartNotification, [self, delegate](const ZVNotification&) {
        delegate()->ZVWavIODidStart(self);
    });
    io->forwardToDelegate(
        ZVWavIODidChangePauseStateNotification, [self, delegate](const ZVNotification& n) {
            const ZVValue* state = n.userInfo.get(kZVPauseStateKey);
            delegate()->ZVWavIODidChangePauseState(self, state && state->boolValue());
        });
    return io;
}

std::shared_ptr<ZVWavIO> ZVWavIO::wavIOForWriting(const std::string& path, ZVSoundFormat format) {
    auto io = initWithFile(path, kModeWrite);
    io->setFormat(format);
    return io;
}

std::shared_ptr<ZVWavIO> ZVWavIO::wavIOForReading(const std::string& path) {
    return initWithFile(path, kModeRead);
}

ZVWavIO::~ZVWavIO() = default;

void ZVWavIO::setFormat(ZVSoundFormat format) {
    ZVLockGuard g(_headerLock);
    _format = format;
    _bytesPerFrame = format.bytesPerFrame();
}

ZVSoundFormat ZVWavIO::format() const {
    ZVLockGuard g(_headerLock);
    return _format;
}

ZVWavFileInfo ZVWavIO::fileInfo() const {
    ZVLockGuard g(_headerLock);
    return ZVWavFileInfo{head, chFormat, chData};
}

int32_t ZVWavIO::frames() const {
    ZVLockGuard g(_headerLock);
    if (_bytesPerFrame <= 0) return 0;
    return static_cast<int32_t>(chData.Subchunk2Size / static_cast<uint32_t>(_bytesPerFrame));
}

double ZVWavIO::duration() const {
    const float rate = format().sampleRate;
    if (rate == 0) return 0;
    return static_cast<float>(frames()) / rate;
}

void ZVWavIO::start() {
    if (_mode != kModeRead && _mode != kModeWrite) {
        // Any other mode has no worker to launch.
        if (!_worker.isLaunched()) post(ZVWavIOShouldStartNotification);
        return;
    }
    launchWorker([this] { _mode == kModeWrite ? wavWriter() : wavReader(); },
                 ZVWavIODidStopNotification, [this] { post(ZVWavIOShouldStartNotification); });
}

void ZVWavIO::stop() {
    if (_worker.stop()) post(ZVWavIOShouldStopNotification);
}

void ZVWavIO::pause(bool paused) {
    if (!_worker.pause(paused)) return;
    ZVValue info = ZVValue::dict();
    info.set(kZVPauseStateKey, paused);
    post(ZVWavIODidChangePauseStateNotification, std::move(info));
}

void ZVWavIO::wavWriter() {
    post(ZVWavIOWillStartNotification);
    ZVSoundFormat format;
    int32_t bytesPerFrame;
    {
        ZVLockGuard g(_headerLock);
        format = _format;
        bytesPerFrame = _bytesPerFrame;
    }
    if (bytesPerFrame <= 0) {
        // Without a frame size the sizes could not be counted; no file is touched.
        std::string why = ZVFormat(
            "ZVWavIO: \"%s\" not written: the sound format (%d channels, %d bits) has no "
            "frame size",
            _fullPath.c_str(), format.numberOfChannels, format.bitsPerChannel);
        ZVLog("%s", why.c_str());
        fail(std::move(why));
        post(ZVWavIOWillStopNotification);
        return;
    }
    const ZVWavLayout layout = ZVWavHeader::layoutFor(format);
    auto writeHeader = [&](int fd, uint32_t frames) {
        ZVWavHeaderRecords r = ZVWavHeader::records(format, frames);
        {
            ZVLockGuard g(_headerLock);
            head = r.head;
            chFormat = r.chFormat;
            chFact = r.chFact;
            chData = r.chData;
        }
        std::vector<uint8_t> bytes = ZVWavHeader::bytes(r, layout);
        writeAt(fd, bytes.data(), bytes.size(), 0, _fullPath);
    };

    // The last step runs however the run ends; a foreign exception goes on to the worker,
    // which logs it, after that step.
    FileHandle file(::open(_fullPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    try {
        if (file.fd() < 0)
            raiseFileError("-[ZVWavIO wavWriter]", _fullPath, "Could not open", errno);
        fnocache(file.fd());  // a failure is reported on standard error and is harmless
        _framesCount = 0;
        writeHeader(file.fd(), 0);
        // For the integer layouts this seeks past the header's end; the gap reads as zeros.
        if (::lseek(file.fd(), layout.dataOffset, SEEK_SET) < 0)
            raiseFileError("-[ZVWavIO wavWriter]", _fullPath, "Could not seek in", errno);
        _worker.running();
        _worker.clearFinalize();
        post(ZVWavIODidStartNotification);
        writerLoop(file.fd(), format, bytesPerFrame, layout.dataOffset);
        // The sizes are known only now; until here the header says 0 frames.
        writeHeader(file.fd(), _framesCount);
    } catch (const ZVException& e) {
        // The header counts the whole frames written (rewriting it needs no new space),
        // so a full disk leaves a file that plays to where it stopped.
        if (file.fd() >= 0) patchSizes(file.fd(), format, _framesCount);
        fail(e.reason());
        ZVRunAlertPanel(e.name(), e.reason());
    } catch (...) {
        post(ZVWavIOWillStopNotification);
        file.close();
        throw;
    }
    post(ZVWavIOWillStopNotification);
    file.close();
}

bool ZVWavIO::patchSizes(int fd, ZVSoundFormat format, uint32_t frames) {
    const std::vector<uint8_t> bytes =
        ZVWavHeader::bytes(ZVWavHeader::records(format, frames), ZVWavHeader::layoutFor(format));
    return ::pwrite(fd, bytes.data(), bytes.size(), 0) == static_cast<ssize_t>(bytes.size());
}

void ZVWavIO::writerLoop(int fd, ZVSoundFormat format, int32_t bytesPerFrame, off_t dataOffset) {
    const bool swap = (format.flags & kZVSoundFormatBigEndian) != 0;
    ZVCacheDropper dropper(fd);
    // The header's sizes follow the samples at least once a second, so a recording cut
    // short by a crash plays to within a second of its end.
    double nextPatch = ZVAbsoluteTimeGetCurrent() + 1;
    off_t end = dataOffset;
    bool warned = false;
    _worker.loop([&] {
        return _worker.consume(source(), [&](ZVObjectRef object) {
            auto packet = std::dynamic_pointer_cast<ZVSoundPacket>(object);
            if (!packet) {
                if (!warned)
                    ZVLog(
                        "ZVWavIO: \"%s\": dropped queue objects that are not sound "
                        "packets",
                        _fullPath.c_str());
                warned = true;
                return;
            }
            // The stage's own format decides; the packet's flags are not looked at.
            if (swap) packet->swapByteOrder();
            const int64_t size = packet->dataSize();
            writeAt(fd, packet->baseAddres(), size_t(size), end, _fullPath);
            end += size;
            dropper.wrote(end);
            _framesCount += uint32_t(size) / uint32_t(bytesPerFrame);
            if (const double now = ZVAbsoluteTimeGetCurrent(); now >= nextPatch) {
                patchSizes(fd, format, _framesCount);
                nextPatch = now + 1;
            }
        });
    });
}

namespace {
int32_t queueCount(ZVDataDestination& destination) {
    auto* queue = dynamic_cast<ZVQueue*>(&destination);
    return queue ? queue->count() : 0;
}
}  // namespace

void ZVWavIO::wavReader() {
    post(ZVWavIOWillStartNotification);
    FileHandle file(::open(_fullPath.c_str(), O_RDONLY | O_CLOEXEC));
    try {
        if (file.fd() < 0)
            raiseFileError("-[ZVWavIO wavReader]", _fullPath, "Could not open", errno);
        fnocache(file.fd());
        // Always these 68 bytes (fewer from a shorter file, the rest zero): no chunk is
        // searched for, so a reader delivers everything from byte 68 on.
        ZVWavFileInfo info{};
        readUpTo(file.fd(), reinterpret_cast<uint8_t*>(&info), sizeof info, _fullPath);
        if (info.head.ChunkID != kZVWavRIFF || info.chFormat.Subchunk1ID != kZVWavFmt ||
            info.chFormat.AudioFormat != 1 || info.chFormat.Subchunk1Size != 16)
            ZVLog("Unsupported WAVE format.");
        ZVSoundFormat format;
        format.sampleRate = static_cast<float>(info.chFormat.SampleRate);
        format.numberOfChannels = info.chFormat.NumChannels ? info.chFormat.NumChannels : 2;
        format.bitsPerChannel = info.chFormat.BitsPerSample ? info.chFormat.BitsPerSample : 16;
        format.flags = kZVSoundFormatSignedInteger;
        {
            ZVLockGuard g(_headerLock);
            head = info.head;
            chFormat = info.chFormat;
            chData = info.chData;
            _format = format;
            _bytesPerFrame = format.bytesPerFrame();
        }
        _worker.running();
        post(ZVWavIODidStartNotification);
        if (format.bytesPerFrame() < 1)
            ZVLog(
                "ZVWavIO: \"%s\" not read: its header gives frames of less than one byte "
                "(%d channels, %d bits)",
                _fullPath.c_str(), format.numberOfChannels, format.bitsPerChannel);
        else
            readerLoop(file.fd(), format);
    } catch (const ZVException& e) {
        fail(e.reason());
        ZVRunAlertPanel(e.name(), e.reason());
    }
    post(ZVWavIOWillStopNotification);
    file.close();
}

void ZVWavIO::readerLoop(int fd, ZVSoundFormat format) {
    const uint32_t frameSize = static_cast<uint32_t>(format.bytesPerFrame());
    std::vector<uint8_t> chunk(static_cast<size_t>(_chunkSize));
    while (_worker.shouldContinue()) {
        if (_worker.isPaused()) {
            _worker.waitWhilePaused();
            continue;
        }
        if (!_worker.waitForRoom(destination())) continue;
        const size_t got = readUpTo(fd, chunk.data(), chunk.size(), _fullPath);
        if (got == 0) {  // the end of the file
            _worker.markEnded();
            break;
        }
        // A trailing part of a frame is dropped; a read shorter than a frame makes an
        // empty packet.
        const uint32_t frames = static_cast<uint32_t>(got) / frameSize;
        auto packet = ZVSoundPacket::soundPacketWithFormat(format, static_cast<int32_t>(frames));
        if (!packet) {
            ZVLog("Failed to create packet. Objects in queue: %d", queueCount(destination()));
            break;
        }
        // A packet's sample takes bitsPerChannel / 8 whole bytes, so for a depth that is
        // no multiple of 8 it is smaller than frames x frame size: never copy past it.
        const size_t bytes =
            std::min<size_t>(size_t(frames) * frameSize, size_t(packet->bufferSize()));
        if (bytes) std::memcpy(packet->baseAddres(), chunk.data(), bytes);
        destination().addObject(std::move(packet));
    }
}
