#include "Storage/ZVFomixFileWriter.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "Common/fnocache.h"
#include "Foundation/ZVException.h"
#include "Foundation/ZVLog.h"

namespace {
constexpr const char* kWriterName = "-[ZVFomixIO fomixWriter]";

void appendChunk(std::vector<uint8_t>& out, uint32_t tag, const void* data, uint32_t length) {
    const size_t at = out.size();
    out.resize(at + kZVFomixChunkHeaderSize + length);
    std::memcpy(out.data() + at, &tag, 4);
    std::memcpy(out.data() + at + 4, &length, 4);
    if (length) std::memcpy(out.data() + at + 8, data, length);
}
}  // namespace

ZVFomixFileWriter::~ZVFomixFileWriter() {
    close();
    std::free(_blocks);
}

bool ZVFomixFileWriter::open(const std::string& path) {
    close();
    _path = path;
    _fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (_fd < 0) return false;
    fnocache(_fd);
    // The header's 28 bytes stay zero until finish(): a file whose writer never finished
    // is refused by readers, and the repair knows it by them.
    const ZVFomixFileInfo unfinished{};
    _end = 0;
    if (!ZVWriteAt(_fd, &unfinished, kZVFomixHeaderSize, 0)) {
        close();
        return false;
    }
    _end = static_cast<off_t>(kZVFomixHeaderSize);
    _disk = std::make_unique<ZVFomixDiskWriter>(_fd, _path, _end, _diskLimit, _writeHook);
    return true;
}

double ZVFomixFileWriter::diskQueueFill() const {
    return _disk ? double(_disk->queuedBytes()) / double(_disk->limit()) : 0;
}

void ZVFomixFileWriter::close() {
    _disk.reset();  // writes what is queued first
    if (_fd >= 0) ::close(_fd);
    _fd = -1;
}

ZVFomixAppend ZVFomixFileWriter::append(const ZVFomixFrameInput& frame, ZVFomixEncoded& encoded) {
    encoded = ZVFomixEncoded{};
    if (!frame.pixels || frame.bufferSize == 0) return ZVFomixAppend::Skipped;

    // One block buffer for the whole recording, big enough for the worst frame.
    const size_t need = ZVFomixMaxBlockDataSize(frame.bufferSize);
    if (_blocksCapacity < need) {
        std::free(_blocks);
        _blocks = need <= _blockBufferLimit ? static_cast<uint8_t*>(std::malloc(need)) : nullptr;
        _blocksCapacity = _blocks ? need : 0;
        if (!_blocks) return ZVFomixAppend::NoMemory;
    }

    const int64_t stride = static_cast<int64_t>(frame.bytesPerRow);
    const ZVFomixRows pixels{frame.pixels, frame.pixelsStep ? frame.pixelsStep : stride,
                             frame.pixelsAlpha};
    const ZVFomixRows reference{frame.reference, frame.referenceStep ? frame.referenceStep : stride,
                                frame.referenceAlpha};
    encoded = ZVFomixEncodeRows(pixels, reference, frame.bytesPerRow, frame.pixelsWidth,
                                frame.bufferSize, _blocks, frame.damage);
    _encoded = encoded;
    _bytesPerRow = frame.bytesPerRow;
    // A failed screen read arrives all zero; storing it would blank the picture.
    if (encoded.allZero) return ZVFomixAppend::Skipped;

    ZVFrameInfo info = frame.info;
    info.blocks = encoded.blocks;
    info.dataSize = encoded.dataSize;
    const uint8_t* payload = _blocks;
    size_t payloadSize = encoded.dataSize;
    _chunks.clear();
    if (info.frameFlags & kZVFrameHasKeyStrokes) {
        if (frame.keyStrokes && !frame.keyStrokes->empty())
            appendChunk(_chunks, kZVFomixKeyStrokesTag, frame.keyStrokes->data(),
                        static_cast<uint32_t>(frame.keyStrokes->size()));
        if (frame.keyText && !frame.keyText->empty())
            appendChunk(_chunks, kZVFomixKeyTextTag, frame.keyText->c_str(),
                        static_cast<uint32_t>(frame.keyText->size() + 1));
        if (info.frameFlags & kZVFrameCompress) {
            // Kept only when it saves more than the 12 bytes of its chunk: a stream that
            // does not fit into dataSize - 13 bytes is given up on by the compressor.
            size_t packed = 0;
            if (encoded.dataSize > 13) {
                if (_compressed.size() < encoded.dataSize - 13)
                    _compressed.resize(encoded.dataSize - 13);
                packed = _deflate.compress(_blocks, encoded.dataSize, _compressed.data(),
                                           encoded.dataSize - 13);
            }
            if (packed) {
                const uint32_t length = static_cast<uint32_t>(packed);
                appendChunk(_chunks, kZVFomixCompressionTag, &length, 4);
                payload = _compressed.data();
                payloadSize = packed;
            } else {
                info.frameFlags = static_cast<int16_t>(info.frameFlags & ~kZVFrameCompress);
            }
        }
        appendChunk(_chunks, kZVFomixEndTag, nullptr, 0);
    } else {
        // Without a chunk list there is nowhere to say how long a compressed payload is.
        info.frameFlags = static_cast<int16_t>(info.frameFlags & ~kZVFrameCompress);
    }

    if (_disk) {
        if (std::string error = _disk->error(); !error.empty())
            throw ZVException(kWriterName, error);
        const size_t size = kZVFomixInfoSize + _chunks.size() + payloadSize;
        if (!_disk->canTake(size)) return ZVFomixAppend::Dropped;
        std::vector<uint8_t> record(size);
        std::memcpy(record.data(), &info, kZVFomixInfoSize);
        if (!_chunks.empty())
            std::memcpy(record.data() + kZVFomixInfoSize, _chunks.data(), _chunks.size());
        std::memcpy(record.data() + kZVFomixInfoSize + _chunks.size(), payload, payloadSize);
        _disk->push(std::move(record), _end, info.timestamp);
        _end += static_cast<off_t>(size);
    }
    return ZVFomixAppend::Written;
}

void ZVFomixFileWriter::patch(uint8_t* row0, int64_t step) const {
    if (_blocks && _bytesPerRow)
        ZVFomixPatchRows(_blocks, _encoded.blocks, row0, step, _bytesPerRow);
}

void ZVFomixFileWriter::finish(ZVFomixFileInfo& header) {
    if (_fd < 0) return;
    std::string failure;
    if (_disk) {
        _disk->finish();
        failure = _disk->error();
        if (!failure.empty()) {
            header.frames = _disk->writtenRecords();
            header.duration = _disk->writtenTimestamp();
            _end = _disk->writtenEnd();
        }
        _disk.reset();
    }
    // After a failed write the file may end in part of a record: the header counts only
    // whole ones, and shrinking a file needs no free space.
    if (ftruncate(_fd, _end) != 0)
        ZVLog("Capture file %s: cannot cut off a torn record: %s", _path.c_str(),
              std::strerror(errno));
    if (!ZVWriteAt(_fd, &header, kZVFomixHeaderSize, 0)) {
        const std::string why =
            ZVFormat("Could not write %s: %s", _path.c_str(), std::strerror(errno));
        close();  // the caller must not take the file for one a failed append left open
        throw ZVException(kWriterName, why);
    }
    close();
    if (!failure.empty()) throw ZVException(kWriterName, failure);
}
