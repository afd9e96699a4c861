#pragma once
#include "ZVPrivate.h"  // library-internal

#include <sys/types.h>

#include <cstddef>

// Tells the kernel that `fd` is streamed once: read ahead, do not keep it cached.
// 0 on success; -1 after "fcntl() failed with error: %d" on standard error. Any thread.
int fnocache(int fd);

// Writes all `size` bytes at `offset`, going on after short writes and signals. False with
// errno set when it cannot (ENOSPC when the disk took nothing more). Any thread.
bool ZVWriteAt(int fd, const void* data, size_t size, off_t offset);

// Streaming writers call this after each write: every few megabytes it flushes what was
// written and drops it from the page cache, so an hour of capture does not push the
// desktop's working set out of memory. Owned by the one writer thread of its file.
class ZVCacheDropper {
  public:
    explicit ZVCacheDropper(int fd) : _fd(fd) {}
    void wrote(off_t endOffset);

  private:
    static constexpr off_t kStep = 8 << 20;
    // Pages go to the disk a piece at a time, one piece ahead of the one waited for: a
    // wait for written pages cannot be interrupted, and the kernel may hand a whole step to
    // a slow disk as one request, so a process told to end at once (a second Ctrl-C) would
    // stay until all of it was written. With pieces it waits for one at most. Whatever
    // else the process writes meanwhile (the package's Info.plist, and the discard of the
    // one it replaces) queues behind the pieces in flight, and a thread waiting there
    // holds the exit too, so few are sent ahead: two keep a disk busy.
    static constexpr off_t kPiece = 1 << 20;
    static constexpr off_t kPiecesAhead = 2;
    int _fd;
    off_t _dropped = 0;
};
