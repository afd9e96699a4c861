#include "ZVAudioTestUtil.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <thread>

#include "support/ZVTestSupport.h"

namespace zvaudiotest {

uint32_t u32At(const std::vector<uint8_t>& b, size_t at) {
    return uint32_t(b.at(at)) | uint32_t(b.at(at + 1)) << 8 | uint32_t(b.at(at + 2)) << 16 |
           uint32_t(b.at(at + 3)) << 24;
}
uint16_t u16At(const std::vector<uint8_t>& b, size_t at) {
    return uint16_t(b.at(at) | b.at(at + 1) << 8);
}

std::shared_ptr<ZVSoundPacket> patternPacket(ZVSoundFormat format, int32_t frames, uint8_t seed) {
    auto p = ZVSoundPacket::soundPacketWithFormat(format, frames);
    for (int32_t i = 0; i < p->bufferSize(); ++i) p->baseAddres()[i] = uint8_t(seed + i);
    return p;
}

Posted::Posted(std::string_view name, const void* stage) {
    ZVNotificationCenter::defaultCenter().addObserver(this, name, stage,
                                                      [this](const ZVNotification&) { ++_count; });
}
Posted::~Posted() {
    ZVNotificationCenter::defaultCenter().removeObserver(this);
}

bool Posted::wait(double seconds) {
    return zvtest::runMainUntil([this] { return seen(); }, seconds);
}

std::vector<std::shared_ptr<ZVSoundPacket>> drain(ZVQueue& queue) {
    std::vector<std::shared_ptr<ZVSoundPacket>> packets;
    while (auto o = queue.nextObject())
        packets.push_back(std::dynamic_pointer_cast<ZVSoundPacket>(o));
    return packets;
}

std::vector<uint8_t> readerFile(uint16_t channels, uint16_t bits, uint32_t rate, size_t payload,
                                uint16_t tag) {
    ZVWavFileInfo info{};
    info.head = {kZVWavRIFF, uint32_t(60 + payload), kZVWavWAVE};
    info.chFormat.Subchunk1ID = kZVWavFmt;
    info.chFormat.Subchunk1Size = 16;
    info.chFormat.AudioFormat = tag;
    info.chFormat.NumChannels = channels;
    info.chFormat.SampleRate = rate;
    info.chFormat.BitsPerSample = bits;
    std::vector<uint8_t> bytes(sizeof info);
    std::memcpy(bytes.data(), &info, sizeof info);
    for (size_t i = 0; i < payload; ++i) bytes.push_back(uint8_t(i));
    return bytes;
}

std::shared_ptr<ZVWavIO> writeWav(const std::string& path, ZVSoundFormat format,
                                  const std::vector<std::shared_ptr<ZVSoundPacket>>& packets) {
    ZVQueue queue;
    queue.setLimit(kZVQueueNoLimit);
    for (auto& p : packets) queue.addObject(p);
    auto writer = ZVWavIO::wavIOForWriting(path, format);
    writer->setDataSource(&queue);
    Posted stop(ZVWavIODidStopNotification, writer.get());
    writer->start();
    // The writer clears finalize when its run begins, so finalize only once it runs.
    zvtest::runMainUntil([&] { return writer->isRunning() || stop.seen(); });
    writer->finalize();
    return stop.wait() ? writer : nullptr;
}

bool readWav(const std::string& path, std::vector<std::shared_ptr<ZVSoundPacket>>* packets,
             ZVSoundFormat* format) {
    ZVQueue queue;
    queue.setLimit(kZVQueueNoLimit);
    auto reader = ZVWavIO::wavIOForReading(path);
    if (!reader) return false;
    reader->setDataDestination(&queue);
    Posted stop(ZVWavIODidStopNotification, reader.get());
    reader->start();
    bool ok = stop.wait();
    *packets = drain(queue);
    if (format) *format = reader->format();
    return ok;
}

std::vector<int16_t> leftChannel(const uint8_t* samples, size_t bytes) {
    std::vector<int16_t> left;
    for (size_t at = 0; at + 4 <= bytes; at += 4)
        left.push_back(int16_t(samples[at] | samples[at + 1] << 8));
    return left;
}

std::vector<int16_t> leftChannelOfWav(const std::string& path) {
    auto d = ZVWavHeader::describeFile(path);
    auto bytes = readBytes(path);
    if (!d || bytes.size() < d->dataSize) return {};
    return leftChannel(bytes.data() + bytes.size() - d->dataSize, d->dataSize);
}

Tone measureTone(const std::vector<int16_t>& left, double seconds) {
    const size_t window = 4410, windows = size_t(std::lround(seconds * 10));
    if (windows == 0 || left.size() < windows * window) return {};
    std::vector<double> pitches, levels;
    for (size_t from = left.size() - windows * window; from < left.size(); from += window) {
        int crossings = 0;
        double sumSquares = 0;
        for (size_t i = from + 1; i < from + window; ++i) {
            if ((left[i - 1] < 0) != (left[i] < 0)) ++crossings;
            sumSquares += double(left[i]) * left[i];
        }
        pitches.push_back(crossings / 2.0 / 0.1);
        levels.push_back(std::sqrt(sumSquares / double(window)) / 32767);
    }
    auto median = [](std::vector<double> v) {
        std::nth_element(v.begin(), v.begin() + v.size() / 2, v.end());
        return v[v.size() / 2];
    };
    return {median(pitches), median(levels)};
}

}  // namespace zvaudiotest
