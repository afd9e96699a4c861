#pragma once
#include "ZVPrivate.h"  // library-internal

// One block of compressed (or PCM) sound on its way from the sound encoder to the movie
// writer: a buffer list the converter fills in place and, for formats whose packets vary
// in size, one description per packet. The packet owns its buffers and descriptions; the
// encoder fills it before queueing it, and only the writer that took it reads it after.
#include <cstdint>
#include <memory>
#include <vector>

#include "Media/ZVAudioBuffers.h"
#include "Pipeline/ZVDataFlow.h"

class ZVEncodedSoundPacket : public ZVQueueObject {
  public:
    // `numberBuffers` buffers of `bufferSize` bytes and `numberOfChannels` channels each;
    // nullptr after the ME-2 / ME-3 report when they cannot be allocated. Any thread.
    static std::shared_ptr<ZVEncodedSoundPacket> initWihNumberBuffers(uint32_t numberBuffers,
                                                                      uint32_t bufferSize,
                                                                      uint32_t numberOfChannels);
    static std::shared_ptr<ZVEncodedSoundPacket> initInterleavedStereoBufferOfSize(uint32_t size);
    static std::shared_ptr<ZVEncodedSoundPacket> soundPacketWithInterleavedStereoBufferOfSize(
        uint32_t size);

    // A cleared array of `n` descriptions in place of the old; numberOfPackets() = n.
    void setNeedsPacketDescriptionsForNumPackets(uint32_t n);
    void setActualNumberOfPackets(uint32_t n) { _numberOfPackets = n; }

    std::vector<ZVAudioBuffer>& bufferList() { return _bufferList; }
    const std::vector<ZVAudioBuffer>& bufferList() const { return _bufferList; }
    // nullptr when the format has constant-size packets.
    ZVAudioStreamPacketDescription* packetDescription() {
        return _packetDescription.empty() ? nullptr : _packetDescription.data();
    }
    const ZVAudioStreamPacketDescription* packetDescription() const {
        return _packetDescription.empty() ? nullptr : _packetDescription.data();
    }
    uint32_t numberOfPackets() const { return _numberOfPackets; }
    // The buffers' bytes plus 16 per packet: the weight a queue counts.
    int64_t dataSize() const override;

  private:
    ZVEncodedSoundPacket() = default;
    std::vector<ZVAudioStreamPacketDescription> _packetDescription;
    std::vector<ZVAudioBuffer> _bufferList;
    std::vector<std::unique_ptr<uint8_t[]>> _blocks;  // the buffers' data
    uint32_t _numberOfPackets = 0;
};
