#include "Audio/ZVSoundPacket.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <utility>

#include "Common/vmstat.h"
#include "Foundation/ZVLog.h"

extern char** environ;

namespace {

std::atomic<ZVSoundPacketAllocator> gAllocator{nullptr};

// "df -h" with its output sent to standard error; a system without df says so there.
void writeDiskReport() {
    std::fputs("*** Disk info ***\n", stderr);
    std::fflush(stderr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, STDERR_FILENO, STDOUT_FILENO);
    char df[] = "df";
    char human[] = "-h";
    char* argv[] = {df, human, nullptr};
    pid_t pid = 0;
    if (posix_spawnp(&pid, "df", &actions, nullptr, argv, environ) == 0) {
        int status = 0;
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    } else {
        std::fputs("df: not available on this system\n", stderr);
    }
    posix_spawn_file_actions_destroy(&actions);
    std::fputs("\n\n", stderr);
    std::fflush(stderr);
}

void reportAllocationFailure(ZVSoundFormat format, int32_t numberOfFrames) {
    ZVLog(
        "ME-5: initWithFormat:numberOfFrames: failed with malloc error. Requested frames: "
        "%d. Format: %dbpc %dch %fHz 0x%2lX.",
        numberOfFrames, format.bitsPerChannel, format.numberOfChannels,
        static_cast<double>(format.sampleRate), static_cast<unsigned long>(format.flags));
    showMemInfo("ME-5");
    writeDiskReport();
}

}  // namespace

int64_t ZVSoundPacket::bufferSizeFor(ZVSoundFormat format, int32_t numberOfFrames) {
    // 64 bits, so that a request beyond 2 GB is refused instead of wrapping to a small
    // buffer that a producer would then overrun.
    int64_t size = int64_t{format.bitsPerChannel / 8} *
                   (int64_t{numberOfFrames} * int64_t{format.numberOfChannels});
    return size < 0 || size > INT32_MAX ? -1 : size;
}

std::shared_ptr<ZVSoundPacket> ZVSoundPacket::soundPacketWithFormat(ZVSoundFormat format,
                                                                    int32_t numberOfFrames) {
    return initWithFormat(format, numberOfFrames);
}

std::shared_ptr<ZVSoundPacket> ZVSoundPacket::initWithFormat(ZVSoundFormat format,
                                                             int32_t numberOfFrames) {
    int64_t size = bufferSizeFor(format, numberOfFrames);
    // A zero-byte packet is valid; malloc(0) may answer nullptr, so ask for one byte.
    ZVSoundPacketAllocator allocate = gAllocator.load(std::memory_order_relaxed);
    if (!allocate) allocate = std::malloc;
    auto* buffer =
        size < 0 ? nullptr : static_cast<uint8_t*>(allocate(size > 0 ? size_t(size) : 1));
    if (!buffer) {
        reportAllocationFailure(format, numberOfFrames);
        return nullptr;
    }
    auto* packet = new (std::nothrow)
        ZVSoundPacket(format, numberOfFrames, buffer, static_cast<int32_t>(size));
    if (!packet) {
        std::free(buffer);
        reportAllocationFailure(format, numberOfFrames);
        return nullptr;
    }
    return std::shared_ptr<ZVSoundPacket>(packet);
}

void ZVSetSoundPacketAllocator(ZVSoundPacketAllocator allocator) {
    gAllocator.store(allocator, std::memory_order_relaxed);
}

ZVSoundPacket::~ZVSoundPacket() {
    std::free(_packetBuffer);
}

void ZVSoundPacket::swapByteOrder() {
    if (_format.bitsPerChannel < 16 || _bufferSize <= 0) return;
    const int32_t sampleSize = _format.bitsPerChannel / 8;
    const int32_t swaps = _format.bitsPerChannel / 16;
    // A trailing partial sample is left alone rather than swapped past the buffer's end.
    for (int64_t offset = 0; offset + sampleSize <= _bufferSize; offset += sampleSize) {
        uint8_t* sample = _packetBuffer + offset;
        for (int32_t i = 0; i < swaps; ++i) std::swap(sample[i], sample[sampleSize - 1 - i]);
    }
}
