#include "Storage/ZVMovieFileCheck.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>

#include "Foundation/ZVLog.h"

namespace {
// Reads at most `length` bytes at `offset`; the count read.
using ReadAt = size_t (*)(const void* source, uint8_t* into, size_t length, uint64_t offset);

uint32_t bigEndian32(const uint8_t* p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

uint64_t bigEndian64(const uint8_t* p) {
    return uint64_t(bigEndian32(p)) << 32 | bigEndian32(p + 4);
}

bool isTypeName(const uint8_t* p) {
    for (int i = 0; i < 4; ++i)
        if (!std::isprint(p[i])) return false;
    return true;
}

std::string walk(const void* source, uint64_t size, ReadAt readAt) {
    bool index = false;
    for (uint64_t at = 0; at < size;) {
        uint8_t head[16];
        const size_t got = readAt(source, head, sizeof head, at);
        if (got < 8 || !isTypeName(head + 4)) {
            if (at == 0) return "not a movie";
            return ZVFormat("bytes after byte %llu are no atom",
                            static_cast<unsigned long long>(at));
        }
        const std::string type(reinterpret_cast<const char*>(head + 4), 4);
        uint64_t length = bigEndian32(head);
        if (length == 1) {
            if (got < 16) return ZVFormat("it ends inside its '%s' atom", type.c_str());
            length = bigEndian64(head + 8);
        } else if (length == 0) {
            length = size - at;  // the last atom reaches to the end of the file
        }
        if (length < 8) {
            if (at == 0) return "not a movie";
            return ZVFormat("its '%s' atom at byte %llu has a size of %llu", type.c_str(),
                            static_cast<unsigned long long>(at),
                            static_cast<unsigned long long>(length));
        }
        if (length > size - at)
            return ZVFormat("it ends inside its '%s' atom, %llu of %llu bytes", type.c_str(),
                            static_cast<unsigned long long>(size - at),
                            static_cast<unsigned long long>(length));
        index = index || type == "moov";
        at += length;
    }
    if (size == 0) return "it is empty";
    return index ? std::string() : "it has no index ('moov')";
}
}  // namespace

std::string ZVMovieFileProblem(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::strerror(errno);
    struct stat st {};
    std::string problem;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        problem = "not a regular file";
    } else {
        problem = walk(&fd, uint64_t(st.st_size),
                       [](const void* source, uint8_t* into, size_t length, uint64_t offset) {
                           const ssize_t n = ::pread(*static_cast<const int*>(source), into, length,
                                                     static_cast<off_t>(offset));
                           return n > 0 ? size_t(n) : size_t(0);
                       });
    }
    ::close(fd);
    return problem;
}

std::string ZVMovieBytesProblem(const uint8_t* data, size_t size) {
    struct Memory {
        const uint8_t* data;
        size_t size;
    } memory{data, size};
    return walk(&memory, size,
                [](const void* source, uint8_t* into, size_t length, uint64_t offset) {
                    const auto* m = static_cast<const Memory*>(source);
                    if (offset >= m->size) return size_t(0);
                    const size_t n = std::min<size_t>(length, m->size - size_t(offset));
                    std::memcpy(into, m->data + offset, n);
                    return n;
                });
}
