#pragma once
// Helpers for the audio tests: files as bytes, packets with known contents, running a
// WAV stage to its end, and what a recorded tone sounds like.
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "ZorvanInternal.h"
#include "support/ZVTestSupport.h"

namespace zvaudiotest {

using zvtest::readBytes;
using zvtest::writeBytes;

uint32_t u32At(const std::vector<uint8_t>& b, size_t at);
uint16_t u16At(const std::vector<uint8_t>& b, size_t at);

// A packet whose byte i holds (seed + i) & 0xFF.
std::shared_ptr<ZVSoundPacket> patternPacket(ZVSoundFormat format, int32_t frames, uint8_t seed);

// Counts a stage's posts of one notification (a did-stop, a pause change) on the posting
// thread.
class Posted {
  public:
    Posted(std::string_view name, const void* stage);
    ~Posted();
    bool wait(double seconds = 10);  // true once posted
    bool seen() const { return _count.load() > 0; }
    int count() const { return _count.load(); }

  private:
    std::atomic<int> _count{0};
};

// Every packet in the queue, in order.
std::vector<std::shared_ptr<ZVSoundPacket>> drain(ZVQueue& queue);

// A reader's 68-byte header with the given fields, followed by `payload` bytes 0, 1, 2...
std::vector<uint8_t> readerFile(uint16_t channels, uint16_t bits, uint32_t rate, size_t payload,
                                uint16_t tag = 1);

// Writes `packets` through a writer that is finalized at once; the writer once it stopped,
// null when it did not.
std::shared_ptr<ZVWavIO> writeWav(const std::string& path, ZVSoundFormat format,
                                  const std::vector<std::shared_ptr<ZVSoundPacket>>& packets);

// Reads the file through a reader into a list of packets; true when it stopped.
bool readWav(const std::string& path, std::vector<std::shared_ptr<ZVSoundPacket>>* packets,
             ZVSoundFormat* format = nullptr);

// The left channel of 16-bit stereo samples, and of a WAV file's data (its last dataSize
// bytes, wherever the header ends); empty when the file cannot be read.
std::vector<int16_t> leftChannel(const uint8_t* samples, size_t bytes);
std::vector<int16_t> leftChannelOfWav(const std::string& path);

// The pitch (by zero crossings) and RMS level (1 is full scale) of the last `seconds` of
// 44.1 kHz samples, each the median over tenth-of-a-second windows, so that a dropout of
// a test's own player on a loaded machine does not count; zeros when there is too little.
struct Tone {
    double pitch = 0, level = 0;
};
Tone measureTone(const std::vector<int16_t>& left, double seconds);

}  // namespace zvaudiotest
