#pragma once
#include "ZVPrivate.h"  // library-internal

// Appends frame records to a capture file and writes its header last. The header stays 28
// zero bytes until finish(), so a file whose writer never finished is refused by every
// reader (and can be mended with `zorvan repair`). Used by the writing stage's worker and
// by tests; one thread at a time.
#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Storage/ZVFomixBlocks.h"
#include "Storage/ZVFomixDeflate.h"
#include "Storage/ZVFomixDiskWriter.h"
#include "Storage/ZVFomixFormat.h"
#include "Video/ZVFrameInfo.h"

// One frame to append: its pixels, the picture the file holds so far (same size and
// stride), its record and key strokes. Borrowed for the call.
struct ZVFomixFrameInput {
    const uint8_t* pixels = nullptr;     // row 0
    const uint8_t* reference = nullptr;  // row 0
    size_t bytesPerRow = 0;              // the stored layout's stride (offsets count in it)
    size_t bufferSize = 0;
    // Where each picture's rows lie in memory when not bytesPerRow apart from row 0 on
    // (0: they are; negative: bottom-up memory), how many words of a row are pixels (0: all)
    // and each picture's alpha bits (ZVFomixRows::alpha).
    int64_t pixelsStep = 0;
    int64_t referenceStep = 0;
    size_t pixelsWidth = 0;
    uint32_t pixelsAlpha = 0;
    uint32_t referenceAlpha = 0;
    // Only these pixels are compared (ZVFomixEncodeRows); the reference must then hold what
    // the file holds, since a change outside them is taken to be there already. nullptr:
    // the whole picture.
    const ZVDamage* damage = nullptr;
    ZVFrameInfo info{};
    const std::vector<uint8_t>* keyStrokes = nullptr;  // may be null
    const std::string* keyText = nullptr;              // may be null
};

enum class ZVFomixAppend {
    Written,   // a record was appended
    Skipped,   // all-zero or empty frame: nothing stored
    NoMemory,  // the block buffer could not be allocated: nothing stored
    Dropped,   // the disk is behind and the record queue is full: nothing stored
};

class ZVFomixFileWriter {
  public:
    ZVFomixFileWriter() = default;
    ~ZVFomixFileWriter();
    ZVFomixFileWriter(const ZVFomixFileWriter&) = delete;
    ZVFomixFileWriter& operator=(const ZVFomixFileWriter&) = delete;

    // Creates the file if need be, opens it for writing with the no-cache hint, truncates
    // it and leaves room for the header. False (errno kept) when it cannot be opened.
    // Owning thread.
    bool open(const std::string& path);
    // A file is open for writing. Owning thread.
    bool isOpen() const { return _fd >= 0; }

    // Encodes `frame` against its reference and queues the record for the disk thread
    // (nothing is written while no file is open, but the outcome is the same); a record
    // the full queue cannot take is dropped whole. `encoded` tells what the encoder found.
    // Throws ZVException once a write failed. Owning thread.
    ZVFomixAppend append(const ZVFomixFrameInput& frame, ZVFomixEncoded& encoded);

    // Copies what the last Written record stored onto the picture whose row 0 is at `row0`,
    // the next `step` bytes on, so that it becomes the picture the file holds. Owning thread.
    void patch(uint8_t* row0, int64_t step) const;

    // Waits for the queued records, cuts off one a write left torn, writes the header at
    // offset 0 (it takes no new space, so this works on a full disk) and closes the file.
    // After a failed write `header` is changed to count what is on the disk, written, and
    // the failure is thrown as ZVException. Owning thread.
    void finish(ZVFomixFileInfo& header);
    // Closes the file without a header. Owning thread.
    void close();

    // The largest block buffer this writer will allocate; a smaller limit lets a test meet
    // the out-of-memory path. Owning thread.
    void setBlockBufferLimit(size_t bytes) { _blockBufferLimit = bytes; }
    // The record queue's bound and a hook the disk thread calls before each write (tests
    // make a slow disk with it). Before open. Owning thread.
    void setDiskQueue(size_t limit, std::function<void(size_t)> writeHook) {
        _diskLimit = limit;
        _writeHook = std::move(writeHook);
    }
    // How full the record queue is, 0 to 1 (0 without a file). Owning thread.
    double diskQueueFill() const;

  private:
    std::string _path;
    int _fd = -1;
    off_t _end = 0;  // where the next record goes
    size_t _diskLimit = ZVFomixDiskWriter::kDefaultLimit;
    std::function<void(size_t)> _writeHook;
    std::unique_ptr<ZVFomixDiskWriter> _disk;  // joined before the file is closed
    uint8_t* _blocks = nullptr;  // block buffer, allocated for the first frame (malloc)
    size_t _blocksCapacity = 0;
    ZVFomixEncoded _encoded;  // what the block buffer holds now
    size_t _bytesPerRow = 0;  // the layout of its offsets
    size_t _blockBufferLimit = SIZE_MAX;
    std::vector<uint8_t> _compressed;
    std::vector<uint8_t> _chunks;
    ZVFomixDeflate _deflate;
};
