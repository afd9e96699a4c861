// Feeds arbitrary bytes to the WAV reader stage and to the header description: neither
// may crash, read or write out of bounds, or hang, whatever the header claims.
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <thread>

#include "ZorvanInternal.h"

namespace {
std::string scratchFile() {
    static std::string path = [] {
        char tmpl[] = "/tmp/zv-wav-fuzz-XXXXXX";
        int fd = mkstemp(tmpl);
        if (fd >= 0) close(fd);
        return std::string(tmpl);
    }();
    return path;
}

std::atomic<uint8_t> gTouched{0};

// Takes everything and keeps nothing, but checks what it gets.
class Sink : public ZVDataDestination {
  public:
    void addObject(ZVObjectRef object) override {
        auto packet = std::dynamic_pointer_cast<ZVSoundPacket>(object);
        if (!packet || packet->bufferSize() > kZVWavIODefaultChunkSize) std::abort();
        // Reading every byte lets the address sanitizer check the whole buffer.
        uint8_t sum = 0;
        for (int32_t i = 0; i < packet->bufferSize(); ++i) sum ^= packet->baseAddres()[i];
        gTouched = sum;
    }
};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool quiet = [] {
        ZVSetLogSink([](const std::string&) {});
        ZVSetAlertHandler([](const std::string&, const std::string&) {});
        return true;
    }();
    (void)quiet;
    const std::string path = scratchFile();
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return 0;
    std::fwrite(data, 1, size, f);
    std::fclose(f);

    (void)ZVWavHeader::describeFile(path);

    Sink sink;
    auto reader = ZVWavIO::wavIOForReading(path);
    if (!reader) return 0;
    reader->setDataDestination(&sink);
    reader->start();
    while (reader->isLaunched()) std::this_thread::sleep_for(std::chrono::microseconds(200));
    (void)reader->frames();
    (void)reader->duration();
    // The delegate hand-offs queued for the main thread; nobody else drains them here.
    ZVRunLoop::main().runOnce();
    return 0;
}
