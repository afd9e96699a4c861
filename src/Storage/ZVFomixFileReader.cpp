#include "Storage/ZVFomixFileReader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>

#include "Common/fnocache.h"
#include "Foundation/ZVLog.h"
#include "Video/ZVPixelBufferPool.h"

namespace {
constexpr size_t kReadAhead = 256 << 10;
constexpr uint32_t kMaxSide = 32768;

void swapInfo(ZVFrameInfo& info) {
    ZV_FOMIX_SWAP(info.blocks);
    ZV_FOMIX_SWAP(info.dataSize);
    ZV_FOMIX_SWAP(info.mousePointerLocation.x);
    ZV_FOMIX_SWAP(info.mousePointerLocation.y);
    ZV_FOMIX_SWAP(info.dimensions.width);
    ZV_FOMIX_SWAP(info.dimensions.height);
    ZV_FOMIX_SWAP(info.mousePointerIndex);
    ZV_FOMIX_SWAP(info.timestamp);
    ZV_FOMIX_SWAP(info.keyCode);
    ZV_FOMIX_SWAP(info.frameFlags);
    ZV_FOMIX_SWAP(info.flags);
}

// Side of a picture in whole pixels as the pool makes it (truncated), or 0 when the value
// is not a usable side.
uint32_t side(float value) {
    if (!(value >= 1) || value >= static_cast<float>(kMaxSide) + 1) return 0;
    return static_cast<uint32_t>(value);
}

bool validUTF8(const std::string& s) {
    for (size_t i = 0; i < s.size();) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        size_t extra = c < 0x80                 ? 0
                       : c >= 0xC2 && c <= 0xDF ? 1
                       : c >= 0xE0 && c <= 0xEF ? 2
                       : c >= 0xF0 && c <= 0xF4 ? 3
                                                : 4;
        if (extra == 4 || i + extra >= s.size() + (extra == 0)) return false;
        for (size_t k = 1; k <= extra; ++k)
            if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
        i += extra + 1;
    }
    return true;
}
}  // namespace

ZVFomixCanvas ZVFomixMakeCanvas(uint32_t width, uint32_t height, std::vector<uint8_t>& pixels) {
    ZVFomixCanvas canvas;
    canvas.pixelsWidth = width;
    canvas.pixelsHeight = height;
    canvas.bytesPerRow = static_cast<size_t>(ZVPixelBytesPerRow(width));
    canvas.bufferSize = canvas.bytesPerRow * height;
    pixels.assign(canvas.bufferSize, 0);
    canvas.base = pixels.data();
    return canvas;
}

ZVFomixFileReader::ZVFomixFileReader() = default;

ZVFomixFileReader::~ZVFomixFileReader() {
    if (_fd >= 0) close(_fd);
}

bool ZVFomixFileReader::openFile(const std::string& path) {
    _fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (_fd < 0) return false;
    struct stat st;
    if (fstat(_fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        int saved = S_ISDIR(st.st_mode) ? EISDIR : errno;
        close(_fd);
        _fd = -1;
        errno = saved;
        return false;
    }
    _size = static_cast<uint64_t>(st.st_size);
    fnocache(_fd);
    _buffer.resize(kReadAhead);
    return true;
}

void ZVFomixFileReader::openMemory(const uint8_t* data, size_t size) {
    _memory = data;
    _size = size;
}

size_t ZVFomixFileReader::read(void* into, size_t count) {
    count = static_cast<size_t>(std::min<uint64_t>(count, remaining()));
    if (count == 0) return 0;
    uint8_t* out = static_cast<uint8_t*>(into);
    if (_memory) {
        std::memcpy(out, _memory + _position, count);
        _position += count;
        return count;
    }
    size_t done = 0;
    while (done < count) {
        if (_bufferStart == _bufferEnd) {
            if (count - done >= _buffer.size()) {
                // Large payloads go straight to their destination.
                ssize_t got = ::read(_fd, out + done, count - done);
                if (got < 0 && errno == EINTR) continue;
                if (got <= 0) break;
                done += static_cast<size_t>(got);
                continue;
            }
            ssize_t got = ::read(_fd, _buffer.data(), _buffer.size());
            if (got < 0 && errno == EINTR) continue;
            if (got <= 0) break;
            _bufferStart = 0;
            _bufferEnd = static_cast<size_t>(got);
        }
        size_t n = std::min(count - done, _bufferEnd - _bufferStart);
        std::memcpy(out + done, _buffer.data() + _bufferStart, n);
        _bufferStart += n;
        done += n;
    }
    _position += done;
    return done;
}

bool ZVFomixFileReader::skip(uint64_t count) {
    if (count > remaining()) return false;
    if (!_memory) {
        uint64_t buffered = _bufferEnd - _bufferStart;
        if (count <= buffered) {
            _bufferStart += static_cast<size_t>(count);
        } else {
            if (lseek(_fd, static_cast<off_t>(count - buffered), SEEK_CUR) < 0) return false;
            _bufferStart = _bufferEnd = 0;
        }
    }
    _position += count;
    return true;
}

bool ZVFomixFileReader::readHeader() {
    _header = ZVFomixFileInfo{};
    read(&_header, sizeof _header);
    if (!ZVFomixLayoutForSignature(_header.signature, _layout)) return false;
    if (_layout.swapped) ZVFomixSwapHeader(_header);
    _timeSum = 0;
    return true;
}

void ZVFomixFileReader::assumeHeader(const ZVFomixFileInfo& header) {
    _header = header;
    _layout = ZVFomixLayout{};
    _timeSum = 0;
    if (_position < kZVFomixHeaderSize)
        skip(std::min<uint64_t>(kZVFomixHeaderSize - _position, remaining()));
}

void ZVFomixFileReader::seek(uint64_t offset) {
    _position = std::min(offset, _size);
    _bufferStart = _bufferEnd = 0;
    if (!_memory && _fd >= 0) lseek(_fd, static_cast<off_t>(_position), SEEK_SET);
}

bool ZVFomixFileReader::isPlausibleInfo(const ZVFrameInfo& info, size_t width, size_t height,
                                        uint64_t remaining) {
    if (side(info.dimensions.width) != width || side(info.dimensions.height) != height)
        return false;
    const uint64_t bufferSize = static_cast<uint64_t>(ZVPixelBytesPerRow(width)) * height;
    // Each block holds at least its 8-byte head and one word.
    if (info.dataSize > ZVFomixMaxBlockDataSize(bufferSize) ||
        uint64_t(info.blocks) * 12 > info.dataSize)
        return false;
    // A compressed payload says its own length in a chunk; a plain one must fit the file.
    if (!(info.frameFlags & kZVFrameCompress) && info.dataSize > remaining) return false;
    if (info.frameFlags & ~0xFF) return false;
    const double t = info.timestamp;
    return std::isfinite(t) && t >= 0 && t < 1e7;
}

bool ZVFomixFileReader::canvasSize(uint32_t& width, uint32_t& height, size_t maxBytes) const {
    width = side(_header.initialDimensions.width);
    height = side(_header.initialDimensions.height);
    if (!width || !height) return false;
    return static_cast<uint64_t>(ZVPixelBytesPerRow(width)) * height <= maxBytes;
}

ZVFomixStep ZVFomixFileReader::bad(std::string problem) {
    _problem = std::move(problem);
    return ZVFomixStep::BadRecord;
}

ZVFomixStep ZVFomixFileReader::readChunks(ZVFomixRecord& record, bool wantKeys,
                                          uint32_t& compressedSize, bool& haveCompressedSize) {
    // Each chunk takes at least its 8-byte header, so the list ends with the file.
    for (;;) {
        uint32_t head[2];
        if (read(head, sizeof head) < sizeof head) return ZVFomixStep::ShortPayload;
        uint32_t tag = head[0], length = head[1];
        if (_layout.swapped) {
            ZV_FOMIX_SWAP(tag);
            ZV_FOMIX_SWAP(length);
        }
        if (tag == kZVFomixEndTag) return ZVFomixStep::Frame;
        if (length > remaining())
            return bad(ZVFormat("chunk of %u bytes is longer than the rest of the file", length));
        if (tag == kZVFomixCompressionTag) {
            if (length < 4) return bad("compression chunk shorter than 4 bytes");
            read(&compressedSize, 4);
            if (_layout.swapped) ZV_FOMIX_SWAP(compressedSize);
            haveCompressedSize = true;
            skip(length - 4);
        } else if (wantKeys && tag == kZVFomixKeyStrokesTag) {
            record.keyStrokes.resize(length);
            read(record.keyStrokes.data(), length);
            if (_layout.swapped) {
                // Each entry is two 32-bit words, modifier flags and key code; turning
                // each word round gives entries of the usual layout.
                for (size_t i = 0; i + 4 <= length; i += 4) {
                    uint32_t w;
                    std::memcpy(&w, record.keyStrokes.data() + i, 4);
                    w = __builtin_bswap32(w);
                    std::memcpy(record.keyStrokes.data() + i, &w, 4);
                }
            }
            record.hasKeyStrokes = true;
        } else if (wantKeys && tag == kZVFomixKeyTextTag) {
            std::string text(length, '\0');
            read(text.data(), length);
            text.resize(std::strlen(text.c_str()));  // zero-terminated
            record.hasKeyText = validUTF8(text);
            record.keyText = record.hasKeyText ? std::move(text) : std::string();
        } else {
            skip(length);
        }
    }
}

ZVFomixStep ZVFomixFileReader::readFrame(ZVFomixRecord& record, const ZVFomixCanvas& canvas,
                                         bool wantKeys) {
    _problem.clear();
    record = ZVFomixRecord{};
    record.startOffset = _position;
    static_assert(sizeof(ZVFrameInfo) == kZVFomixInfoSize);
    if (remaining() < kZVFomixInfoSize) return ZVFomixStep::End;
    read(&record.info, kZVFomixInfoSize);
    ZVFrameInfo& info = record.info;
    if (_layout.swapped) swapInfo(info);

    if (_layout.earlier && side(info.dimensions.width) == 0)
        return bad("frame width of 0 or less in a file of the earlier layout");
    // Every record must have the canvas's size: a frame of another size could not take the
    // canvas's pixels.
    if (side(info.dimensions.width) != canvas.pixelsWidth ||
        side(info.dimensions.height) != canvas.pixelsHeight)
        return bad(ZVFormat("frame of size %s in a recording of %zux%zu",
                            ZVStringFromSize(info.dimensions).c_str(), canvas.pixelsWidth,
                            canvas.pixelsHeight));
    if (info.dataSize > ZVFomixMaxBlockDataSize(canvas.bufferSize))
        return bad(ZVFormat("block data of %u bytes is more than a frame can make", info.dataSize));

    uint32_t compressedSize = 0;
    bool haveCompressedSize = false;
    const bool compressed = (info.frameFlags & kZVFrameCompress) != 0;
    if (info.frameFlags & kZVFrameHasKeyStrokes) {
        ZVFomixStep chunks = readChunks(record, wantKeys, compressedSize, haveCompressedSize);
        if (chunks != ZVFomixStep::Frame) return chunks;
    }
    if (compressed && !haveCompressedSize) return bad("compressed frame without its length");
    // No zlib stream of dataSize bytes is longer than this (compressBound is smaller).
    if (compressed && compressedSize > info.dataSize + info.dataSize / 8 + 64ull)
        return bad(ZVFormat("compressed length %u for %u bytes of block data", compressedSize,
                            info.dataSize));

    const uint64_t payloadSize = compressed ? compressedSize : info.dataSize;
    if (payloadSize > remaining()) return ZVFomixStep::ShortPayload;
    _payload.resize(payloadSize);
    if (read(_payload.data(), payloadSize) < payloadSize) return ZVFomixStep::ShortPayload;
    record.endOffset = _position;

    const uint8_t* blockData = _payload.data();
    if (compressed) {
        _inflated.resize(info.dataSize);
        if (!_deflate.inflate(_payload.data(), _payload.size(), _inflated.data(), info.dataSize)) {
            _problem = "compressed block data does not inflate";
            return ZVFomixStep::FailedFrame;
        }
        blockData = _inflated.data();
    }

    ZVFomixBlockLayout blockLayout;
    blockLayout.swapped = _layout.swapped;
    if (_layout.earlier) {
        blockLayout.unpaddedWidth = side(info.dimensions.width);
        _timeSum += info.timestamp;
        info.timestamp = _timeSum;
    }
    uint8_t* base = canvas.base;
    if (info.blocks > 0 && canvas.writable) base = canvas.writable();
    switch (ZVFomixApplyBlocks(blockData, info.dataSize, info.blocks, base, canvas.bytesPerRow,
                               canvas.pixelsWidth, canvas.bufferSize, blockLayout)) {
        case ZVFomixApplyResult::Applied:
            return ZVFomixStep::Frame;
        case ZVFomixApplyResult::BadOffset:
            _problem = "block offset beyond the picture";
            break;
        case ZVFomixApplyResult::ShortData:
            _problem = "blocks run past their block data";
            break;
    }
    return ZVFomixStep::FailedFrame;
}
