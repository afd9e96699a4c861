#include "Common/fnocache.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>

int fnocache(int fd) {
    int err = posix_fadvise(fd, 0, 0, POSIX_FADV_NOREUSE);
    if (err == 0) err = posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    if (err != 0) {
        errno = err;
        std::fprintf(stderr, "fcntl() failed with error: %d", errno);
        return -1;
    }
    return 0;
}

bool ZVWriteAt(int fd, const void* data, size_t size, off_t offset) {
    const auto* p = static_cast<const unsigned char*>(data);
    while (size) {
        const ssize_t n = pwrite(fd, p, size, offset);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = ENOSPC;
            return false;
        }
        p += n;
        size -= static_cast<size_t>(n);
        offset += n;
    }
    return true;
}

void ZVCacheDropper::wrote(off_t endOffset) {
    if (_fd < 0 || endOffset - _dropped < kStep) return;
    // Keep the last step in flight; everything before it is on its way to the disk.
    off_t upTo = endOffset - kStep;
    if (upTo <= _dropped) return;
    // Pieces ahead are on their way while the writer waits for one, so the disk stays busy.
    off_t sent = _dropped;
    for (off_t at = _dropped; at < upTo; at += kPiece) {
        for (const off_t ahead = std::min(upTo, at + kPiecesAhead * kPiece); sent < ahead;
             sent += kPiece)
            sync_file_range(_fd, sent, std::min(kPiece, upTo - sent), SYNC_FILE_RANGE_WRITE);
        const off_t n = std::min(kPiece, upTo - at);
        sync_file_range(
            _fd, at, n,
            SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE | SYNC_FILE_RANGE_WAIT_AFTER);
        posix_fadvise(_fd, at, n, POSIX_FADV_DONTNEED);
    }
    _dropped = upTo;
}
