#pragma once
// Helpers for the audio tests: files as bytes, packets with known contents, and running a
// WAV stage to its end.
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Zorvan.h"
#include "support/ZVTestSupport.h"

namespace zvaudiotest {

using zvtest::readBytes;
using zvtest::writeBytes;

uint32_t u32At(const std::vector<uint8_t>& b, size_t at);
uint16_t u16At(const std::vector<uint8_t>& b, size_t at);

// A packet whose byte i holds (seed + i) & 0xFF.
std::shared_ptr<ZVSoundPacket> patternPacket(ZVSoundFormat format, int32_t frames, uint8_t seed);

// Sees a stage's did-stop on the posting thread.
class StopWatcher {
  public:
    StopWatcher(std::string_view name, const void* stage);
    ~StopWatcher();
    bool wait(double seconds = 10);  // true once stopped
    bool stopped() const { return _stopped.load(); }

  private:
    std::atomic<bool> _stopped{false};
};

// Writes `packets` through a writer that is finalized at once; true when it stopped.
bool writeWav(const std::string& path, ZVSoundFormat format,
              const std::vector<std::shared_ptr<ZVSoundPacket>>& packets);

// Reads the file through a reader into a list of packets; true when it stopped.
bool readWav(const std::string& path, std::vector<std::shared_ptr<ZVSoundPacket>>* packets,
             ZVSoundFormat* format = nullptr);

}  // namespace zvaudiotest
