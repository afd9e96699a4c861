// Any bytes as a capture file given to ZVFomixIO::imageAtIndex, and to infoForFile: a
// refused file raises the named exception, anything else gives a picture or nullptr.
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "Foundation/ZVException.h"
#include "Storage/ZVFomixFileReader.h"
#include "Storage/ZVFomixIO.h"

namespace {
// One file for the whole run, on a memory file system where one exists.
const std::string& capturePath() {
    static const std::string path = [] {
        char shm[] = "/dev/shm/zvfuzz-XXXXXX";
        char tmp[] = "/tmp/zvfuzz-XXXXXX";
        const char* dir = mkdtemp(shm);
        if (!dir) dir = mkdtemp(tmp);
        if (!dir) abort();
        return std::string(dir) + "/fuzz.fomix";
    }();
    return path;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Pictures that the reader takes but that do not fit the fuzzer's memory limit.
    ZVFomixFileReader probe;
    probe.openMemory(data, size);
    uint32_t w, h;
    if (probe.readHeader() && probe.canvasSize(w, h) && !probe.canvasSize(w, h, size_t(16) << 20))
        return 0;

    const std::string& path = capturePath();
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) abort();
    if (size && std::fwrite(data, 1, size, f) != size) abort();
    std::fclose(f);
    const uint32_t index = size ? data[size - 1] % 8 : 0;
    try {
        ZVFomixIO::infoForFile(path);
        auto image = ZVFomixIO::imageAtIndex(index, path);
        if (image && (image->width() != int32_t(w) || image->height() != int32_t(h))) abort();
    } catch (const ZVException& e) {
        if (e.reason() != "Unsupported FOMIX format") abort();
    }
    return 0;
}
