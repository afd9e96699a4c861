#include "ZVAudioTestUtil.h"

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

StopWatcher::StopWatcher(std::string_view name, const void* stage) {
    ZVNotificationCenter::defaultCenter().addObserver(
        this, name, stage, [this](const ZVNotification&) { _stopped.store(true); });
}
StopWatcher::~StopWatcher() {
    ZVNotificationCenter::defaultCenter().removeObserver(this);
}

bool StopWatcher::wait(double seconds) {
    return zvtest::runMainUntil([this] { return _stopped.load(); }, seconds);
}

bool writeWav(const std::string& path, ZVSoundFormat format,
              const std::vector<std::shared_ptr<ZVSoundPacket>>& packets) {
    ZVQueue queue;
    queue.setLimit(kZVQueueNoLimit);
    for (auto& p : packets) queue.addObject(p);
    auto writer = ZVWavIO::wavIOForWriting(path, format);
    writer->setDataSource(&queue);
    StopWatcher stop(ZVWavIODidStopNotification, writer.get());
    writer->start();
    // The writer clears finalize when its run begins, so finalize only once it runs.
    zvtest::runMainUntil([&] { return writer->isRunning() || stop.stopped(); });
    writer->finalize();
    return stop.wait();
}

bool readWav(const std::string& path, std::vector<std::shared_ptr<ZVSoundPacket>>* packets,
             ZVSoundFormat* format) {
    ZVQueue queue;
    queue.setLimit(kZVQueueNoLimit);
    auto reader = ZVWavIO::wavIOForReading(path);
    if (!reader) return false;
    reader->setDataDestination(&queue);
    StopWatcher stop(ZVWavIODidStopNotification, reader.get());
    reader->start();
    bool ok = stop.wait();
    while (auto o = queue.nextObject())
        packets->push_back(std::dynamic_pointer_cast<ZVSoundPacket>(o));
    if (format) *format = reader->format();
    return ok;
}

}  // namespace zvaudiotest
