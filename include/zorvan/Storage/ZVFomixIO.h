#pragma once
// The capture-file stage. In write mode (0) it takes movie frames from its data source and
// appends each to the capture file as the blocks of 32-bit words that changed since the
// previous stored frame; the header is written when it stops. In read mode (1) it plays
// the file back as movie frames into its data destination, rebuilding each picture on a
// canvas it keeps for the whole file. Any other mode starts nothing.
//
// Notifications (object: the stage): ZVFomixIODidStartNotification when the worker is
// ready, ZVFomixIODidStopNotification as its last act, also after a failure (then with
// {"Error": reason}). Both reach
// the delegate on the main thread.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "Foundation/ZVMutex.h"
#include "Pipeline/ZVWorkerStage.h"
#include "Storage/ZVFomixDiskWriter.h"
#include "Storage/ZVFomixFormat.h"
#include "Video/ZVImage.h"

class ZVFomixIO;

// The stage's notifications; each value is its own name (hosts match on the text).
inline constexpr std::string_view ZVFomixIODidStartNotification = "ZVFomixIODidStartNotification";
inline constexpr std::string_view ZVFomixIODidStopNotification = "ZVFomixIODidStopNotification";

// What the stage tells its delegate, on the main thread; every call does nothing by default.
class ZVFomixIODelegateInformalProtocol {
  public:
    virtual ~ZVFomixIODelegateInformalProtocol() = default;
    virtual void ZVFomixIODidStop(ZVFomixIO*) {}
    virtual void ZVFomixIODidStart(ZVFomixIO*) {}
};

class ZVFomixIO : public ZVWorkerStage<ZVFomixIODelegateInformalProtocol> {
  public:
    static constexpr int32_t kWriteMode = 0;
    static constexpr int32_t kReadMode = 1;

    // A stage for the file at `path`. nullptr when reading (mode 1) a file that does not
    // exist. Any thread.
    static std::shared_ptr<ZVFomixIO> initWithFile(const std::string& path, int32_t mode);
    ~ZVFomixIO() override;

    // Launches the worker (fomixWriter or fomixReader by mode) unless one runs. stop
    // leaves frames still queued unwritten; pause posts nothing; finalize (write mode)
    // writes every queued frame, then stops; a reader passes the end of the stream on
    // after the file's last frame. Any thread.
    void start();

    // Writing: all zero except duration while the worker runs; after did-stop, the header
    // it wrote. Reading: the file's header in host byte order once the worker started.
    // Any thread.
    ZVFomixFileInfo fileInfo() const;
    // Frame records written / frames handed on so far. Any thread.
    int32_t writenFrames() const { return _writenFrames.load(std::memory_order_relaxed); }
    int32_t readFrames() const { return _readFrames.load(std::memory_order_relaxed); }
    // Frames left out whole because the disk fell behind, and how full the queue of
    // records waiting for the disk is (0 to 1). Any thread.
    int32_t droppedFrames() const { return _droppedFrames.load(std::memory_order_relaxed); }
    double diskQueueFill() const { return _diskQueueFill.load(std::memory_order_relaxed); }
    // failureReason() (the stage's) says why the last run could not do all its work: the
    // capture file could not be opened for writing; the file was refused, ends early or
    // holds a damaged record. Its did-stop carries the same as {"Error": reason}.

    // Read mode: reads the file as if `header` (host byte order) were its header, without
    // looking at its first 28 bytes, and stops after header.frames records. For a file whose
    // writer never finished (or is still writing), with the header of its whole records.
    // Call before start. Any thread.
    void assumeHeader(const ZVFomixFileInfo& header) {
        ZVLockGuard guard(_stateLock);
        _assumedHeader = header;
    }

    // The path and mode given at construction. Any thread.
    const std::string& fullPath() const { return _fullPath; }
    int32_t mode() const { return _mode; }

    // The header of the file at `path` in host byte order; all zero when no file is there.
    // Throws ZVException "+[ZVFomixIO infoForFile:]" / "Unsupported FOMIX format" for a
    // file that is not a capture file. Any thread.
    static ZVFomixFileInfo infoForFile(const std::string& path);
    // The picture after the first `index` records (0: the all-zero canvas), flipped as
    // ZVPixelBuffer::createRGBImageFromBufferData flips, or nullptr when a record cannot be
    // applied. Throws ZVException "+[ZVFomixIO imageAtIndex:ofFile:]" / "Unsupported FOMIX
    // format" for a file that is not a capture file. Any thread.
    static std::shared_ptr<ZVImage> imageAtIndex(uint32_t index, const std::string& path);

    // The largest block buffer the writer allocates (tests use it to meet the out-of-memory
    // path). Call before start. Any thread.
    void setBlockBufferLimit(size_t bytes) { _blockBufferLimit.store(bytes); }
    // The bound of the queue of records waiting for the disk, and a hook its disk thread
    // calls with each record's size before writing it (tests make a slow disk with it).
    // Call before start. Any thread.
    void setDiskQueue(size_t limitBytes, std::function<void(size_t)> writeHook) {
        ZVLockGuard guard(_stateLock);
        _diskQueueLimit = limitBytes;
        _diskWriteHook = std::move(writeHook);
    }

  private:
    ZVFomixIO(std::string path, int32_t mode) : _fullPath(std::move(path)), _mode(mode) {}
    void fomixWriter();
    void fomixReader();
    void setFileInfo(const ZVFomixFileInfo& info);
    // The stage's fail(), logging the reason unless the caller logged its own line.
    // Worker only.
    void fail(std::string reason, bool log = true);

    const std::string _fullPath;
    const int32_t _mode;
    std::atomic<int32_t> _writenFrames{0};
    std::atomic<int32_t> _readFrames{0};
    std::atomic<size_t> _blockBufferLimit{SIZE_MAX};
    std::atomic<int32_t> _droppedFrames{0};
    std::atomic<double> _diskQueueFill{0};
    mutable ZVMutex _stateLock;  // guards _fileInfo and the disk queue's settings
    ZVFomixFileInfo _fileInfo ZV_GUARDED_BY(_stateLock);
    size_t _diskQueueLimit ZV_GUARDED_BY(_stateLock) = ZVFomixDiskWriter::kDefaultLimit;
    std::function<void(size_t)> _diskWriteHook ZV_GUARDED_BY(_stateLock);
    std::optional<ZVFomixFileInfo> _assumedHeader ZV_GUARDED_BY(_stateLock);
};
