#include "Storage/ZVFomixDiskWriter.h"

#include <cerrno>
#include <cstring>

#include "Common/fnocache.h"
#include "Foundation/ZVLog.h"

ZVFomixDiskWriter::ZVFomixDiskWriter(int fd, std::string path, off_t start, size_t limit,
                                     std::function<void(size_t)> writeHook)
    : _fd(fd),
      _path(std::move(path)),
      _limit(limit),
      _hook(std::move(writeHook)),
      _writtenEnd(start),
      _thread([this] { run(); }) {}

ZVFomixDiskWriter::~ZVFomixDiskWriter() {
    finish();
    _thread.join();
}

bool ZVFomixDiskWriter::canTake(size_t bytes) const {
    const size_t queued = queuedBytes();
    return queued == 0 || queued + bytes <= _limit;
}

void ZVFomixDiskWriter::push(std::vector<uint8_t> record, off_t at, double timestamp) {
    const size_t size = record.size();
    ZVLockGuard guard(_lock);
    if (!_error.empty()) return;  // nothing more is written after a failure
    _queuedBytes.fetch_add(size, std::memory_order_relaxed);
    _queue.push_back({std::move(record), at, timestamp});
    _changed.notifyAll();
}

void ZVFomixDiskWriter::finish() {
    ZVLockGuard guard(_lock);
    _finishing = true;
    _changed.notifyAll();
    _changed.wait(_lock, [this]() ZV_NO_THREAD_SAFETY_ANALYSIS {
        return (_queue.empty() && !_writing) || !_error.empty();
    });
}

std::string ZVFomixDiskWriter::error() const {
    ZVLockGuard guard(_lock);
    return _error;
}

bool ZVFomixDiskWriter::write(const Record& record) {
    if (_hook) _hook(record.bytes.size());
    return ZVWriteAt(_fd, record.bytes.data(), record.bytes.size(), record.at);
}

void ZVFomixDiskWriter::run() {
    ZVCacheDropper dropper(_fd);
    for (;;) {
        Record record;
        {
            ZVLockGuard guard(_lock);
            _changed.wait(_lock, [this]() ZV_NO_THREAD_SAFETY_ANALYSIS {
                return !_queue.empty() || _finishing;
            });
            if (_queue.empty()) return;
            // The record stays counted until it is on the disk.
            record = std::move(_queue.front());
            _queue.pop_front();
            _writing = true;
        }
        const bool ok = write(record);
        const int saved = errno;
        const off_t end = record.at + static_cast<off_t>(record.bytes.size());
        // Pushing the pages out is where a slow disk makes us wait: outside the lock, so
        // the encoder never waits with us, and the record still counts until it is done.
        if (ok) dropper.wrote(end);
        _queuedBytes.fetch_sub(record.bytes.size(), std::memory_order_relaxed);
        ZVLockGuard guard(_lock);
        _writing = false;
        if (!ok) {
            _error = ZVFormat("Could not write %s: %s", _path.c_str(), std::strerror(saved));
            for (const Record& r : _queue)
                _queuedBytes.fetch_sub(r.bytes.size(), std::memory_order_relaxed);
            _queue.clear();
            _changed.notifyAll();
            return;
        }
        _writtenEnd.store(end);
        _writtenTimestamp.store(record.timestamp);
        _writtenRecords.fetch_add(1);
        _changed.notifyAll();
    }
}
