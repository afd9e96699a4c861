#pragma once
#include "ZVPrivate.h"  // library-internal

// Reads a capture file record by record onto a canvas, synchronously, on the caller's
// thread. The reading stage's worker, +imageAtIndex:ofFile:, the repair tool, the fuzzers
// and the tests all read through this class, so they all end the same way on a bad file.
//
// Nothing a file says makes it allocate without bound: block data may be at most twice
// the canvas plus 8 bytes (what the writer can make), and no chunk or payload may be
// longer than what is left of the file.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "Storage/ZVFomixBlocks.h"
#include "Storage/ZVFomixDeflate.h"
#include "Storage/ZVFomixFormat.h"
#include "Video/ZVFrameInfo.h"

// The picture records are applied to: `bufferSize` bytes at `base`, rows `bytesPerRow`
// apart, `pixelsWidth` x `pixelsHeight` pixels. Borrowed for each call.
struct ZVFomixCanvas {
    uint8_t* base = nullptr;
    size_t bytesPerRow = 0;
    size_t pixelsWidth = 0;
    size_t pixelsHeight = 0;
    size_t bufferSize = 0;
    // When set, asked for the memory before blocks are applied (a record that changes
    // nothing never asks): the owner may then hand a copy of the same layout instead of
    // `base`, while the pictures that share `base` are still looked at.
    std::function<uint8_t*()> writable;
};

// A zeroed canvas of width x height in `pixels`, rows as far apart as in pool buffers (the
// stride the writer's block offsets count with). Any thread.
ZVFomixCanvas ZVFomixMakeCanvas(uint32_t width, uint32_t height, std::vector<uint8_t>& pixels);

// One record as read, numbers in host byte order.
struct ZVFomixRecord {
    ZVFrameInfo info{};          // as stored; in the earlier layout `timestamp` is the sum
    bool hasKeyStrokes = false;  // a key-stroke chunk was read
    std::vector<uint8_t> keyStrokes;
    bool hasKeyText = false;  // a key-text chunk held valid UTF-8
    std::string keyText;
    uint64_t startOffset = 0;  // where the record begins in the file
    uint64_t endOffset = 0;    // where the next one begins (valid for whole records)
};

enum class ZVFomixStep {
    Frame,         // a whole record was applied; the canvas shows its picture
    FailedFrame,   // its blocks could not all be applied (bad offset, short block data,
                   // failed inflation): the canvas holds what was applied, reading ends
    End,           // no whole info record is left
    ShortPayload,  // the file ends inside the record
    BadRecord,     // the record cannot be taken (see problem())
};

class ZVFomixFileReader {
  public:
    // Upper bound of a canvas this reader makes room for.
    static constexpr size_t kDefaultMaxCanvasBytes = kZVFomixMaxCanvasBytes;

    ZVFomixFileReader();
    ~ZVFomixFileReader();
    ZVFomixFileReader(const ZVFomixFileReader&) = delete;
    ZVFomixFileReader& operator=(const ZVFomixFileReader&) = delete;

    // Opens a file for reading with the no-cache hint; false (errno kept) when it cannot
    // be opened. Owning thread.
    bool openFile(const std::string& path);
    // Reads `size` bytes at `data` instead of a file; they must outlive the reader.
    // Owning thread.
    void openMemory(const uint8_t* data, size_t size);

    // Reads the first 28 bytes (fewer when the file is shorter, the rest zero). False when
    // the signature is none of the four accepted ones; otherwise header() is in host byte
    // order and layout() says how to read the records. Owning thread.
    bool readHeader();
    // The header as read (host byte order), and how to take the records. Owning thread.
    const ZVFomixFileInfo& header() const { return _header; }
    // After a refused readHeader (or instead of it): steps past the 28 header bytes and takes
    // `header` (in this machine's byte order) for them, as for a file whose writer never finished.
    // Owning thread.
    void assumeHeader(const ZVFomixFileInfo& header);
    const ZVFomixLayout& layout() const { return _layout; }

    // The canvas size the header asks for, when it is one this reader takes: both sides at
    // least 1 and at most 32768 pixels, its buffer at most `maxBytes`. Owning thread.
    bool canvasSize(uint32_t& width, uint32_t& height,
                    size_t maxBytes = kDefaultMaxCanvasBytes) const;

    // Reads the next record and applies its blocks to `canvas`. Key chunks are kept in
    // `record` when `wantKeys`, else stepped over like unknown chunks. Owning thread.
    ZVFomixStep readFrame(ZVFomixRecord& record, const ZVFomixCanvas& canvas, bool wantKeys);

    // Goes on reading at `offset` (at most the file's size), as after a record that ended
    // there; the repair uses it to step past damaged bytes. Owning thread.
    void seek(uint64_t offset);
    // A record's 44 bytes as stored (host byte order, this layout) could start a record of
    // a canvas of width x height with `remaining` bytes after them: its size is the
    // canvas's, its block count and data sizes fit the picture and the file, its flags are
    // known ones, its timestamp a time. Any thread.
    static bool isPlausibleInfo(const ZVFrameInfo& info, size_t width, size_t height,
                                uint64_t remaining);

    // What made the last step BadRecord or FailedFrame, for a log line. Owning thread.
    const std::string& problem() const { return _problem; }
    // The file offset after the last byte read; the file's size. Owning thread.
    uint64_t position() const { return _position; }
    uint64_t size() const { return _size; }

  private:
    size_t read(void* into, size_t count);  // fewer at the end of the file
    bool skip(uint64_t count);              // false (and nothing skipped) past the end
    uint64_t remaining() const { return _size - _position; }
    ZVFomixStep bad(std::string problem);
    ZVFomixStep readChunks(ZVFomixRecord& record, bool wantKeys, uint32_t& compressedSize,
                           bool& haveCompressedSize);

    int _fd = -1;
    const uint8_t* _memory = nullptr;
    uint64_t _size = 0;
    uint64_t _position = 0;
    std::vector<uint8_t> _buffer;  // read-ahead of a file
    size_t _bufferStart = 0, _bufferEnd = 0;

    ZVFomixFileInfo _header;
    ZVFomixLayout _layout;
    double _timeSum = 0;  // earlier layout: the running sum of frame intervals
    std::vector<uint8_t> _payload;
    std::vector<uint8_t> _inflated;
    ZVFomixDeflate _deflate;
    std::string _problem;
};
