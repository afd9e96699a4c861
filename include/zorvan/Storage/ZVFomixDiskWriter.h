#pragma once
// Writes a capture file's records on a thread of its own, so that the encoder never waits
// for the disk and raw frames never wait for it either: what waits is the encoded records,
// in a queue bounded by bytes. The encoder looks at how full the queue is to decide when
// to compress and when to leave a frame out.
//
// Threads: the encoder thread (the writing stage's worker) pushes and finishes; the disk
// thread owns the writes. The records in the queue belong to the queue until written.
#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "Foundation/ZVMutex.h"

class ZVFomixDiskWriter {
  public:
    // The default bound of the record queue: some seconds of a busy screen at disk speed.
    static constexpr size_t kDefaultLimit = size_t(64) << 20;

    // Writes to `fd` (borrowed; it must stay open until finish()) after the first `start`
    // bytes, naming `path` in messages. `writeHook`, when given, is called on the disk
    // thread before each record is written, with its size: tests slow the disk down with
    // it. Worker thread (the writing stage's).
    ZVFomixDiskWriter(int fd, std::string path, off_t start, size_t limit = kDefaultLimit,
                      std::function<void(size_t)> writeHook = {});
    // Writes what is queued and joins the disk thread. Worker thread (the
    // writing stage's).
    ~ZVFomixDiskWriter();
    ZVFomixDiskWriter(const ZVFomixDiskWriter&) = delete;
    ZVFomixDiskWriter& operator=(const ZVFomixDiskWriter&) = delete;

    // Whether a record of `bytes` fits: an empty queue takes anything. Any thread.
    bool canTake(size_t bytes) const;
    // Queues one whole record to be written at `at`; the queue takes the bytes. Worker
    // thread (the writing stage's).
    void push(std::vector<uint8_t> record, off_t at, double timestamp);
    // Waits until every queued record is written or a write failed. Worker thread (the
    // writing stage's).
    void finish();

    // Bytes waiting to be written; the bound. Any thread.
    size_t queuedBytes() const { return _queuedBytes.load(std::memory_order_relaxed); }
    size_t limit() const { return _limit; }
    // The first failed write ("Could not write PATH: reason"), or empty. Any thread.
    std::string error() const;
    // What is on the disk: whole records, the end of the last one and its timestamp.
    // Meant to be read after finish(), or after error() said a write failed. Any thread.
    uint32_t writtenRecords() const { return _writtenRecords.load(); }
    off_t writtenEnd() const { return _writtenEnd.load(); }
    double writtenTimestamp() const { return _writtenTimestamp.load(); }

  private:
    struct Record {
        std::vector<uint8_t> bytes;
        off_t at;
        double timestamp;
    };
    void run();  // the disk thread
    bool write(const Record& record);

    const int _fd;
    const std::string _path;
    const size_t _limit;
    const std::function<void(size_t)> _hook;

    mutable ZVMutex _lock;  // guards the queue, _finishing and _error
    ZVCondition _changed;   // a record came, one was written, or finish() was called
    std::deque<Record> _queue ZV_GUARDED_BY(_lock);
    bool _finishing ZV_GUARDED_BY(_lock) = false;
    bool _writing ZV_GUARDED_BY(_lock) = false;  // the disk thread holds a record
    std::string _error ZV_GUARDED_BY(_lock);

    std::atomic<size_t> _queuedBytes{0};
    std::atomic<uint32_t> _writtenRecords{0};
    std::atomic<off_t> _writtenEnd{0};
    std::atomic<double> _writtenTimestamp{0};
    std::thread _thread;  // declared last: it starts once everything above exists
};
