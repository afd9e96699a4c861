#include "Media/ZVEncodedSoundPacket.h"

#include <new>

#include "Foundation/ZVLog.h"

std::shared_ptr<ZVEncodedSoundPacket> ZVEncodedSoundPacket::initWihNumberBuffers(
    uint32_t numberBuffers, uint32_t bufferSize, uint32_t numberOfChannels) {
    std::shared_ptr<ZVEncodedSoundPacket> p(new (std::nothrow) ZVEncodedSoundPacket());
    try {
        if (!p) throw std::bad_alloc();
        p->_bufferList.resize(numberBuffers);
        p->_blocks.resize(numberBuffers);
    } catch (const std::bad_alloc&) {
        ZVLog("ME-2: initWihNumberBuffers:bufferSize:numberOfChannels: failed with malloc error");
        return nullptr;
    }
    for (uint32_t i = 0; i < numberBuffers; ++i) {
        p->_blocks[i].reset(new (std::nothrow) uint8_t[bufferSize ? bufferSize : 1]);
        if (!p->_blocks[i]) {
            ZVLog(
                "ME-3: initWihNumberBuffers:bufferSize:numberOfChannels: failed with malloc "
                "error");
            return nullptr;
        }
        p->_bufferList[i] = {numberOfChannels, bufferSize, p->_blocks[i].get()};
    }
    return p;
}

std::shared_ptr<ZVEncodedSoundPacket> ZVEncodedSoundPacket::initInterleavedStereoBufferOfSize(
    uint32_t size) {
    return initWihNumberBuffers(1, size, 2);
}

std::shared_ptr<ZVEncodedSoundPacket>
ZVEncodedSoundPacket::soundPacketWithInterleavedStereoBufferOfSize(uint32_t size) {
    return initInterleavedStereoBufferOfSize(size);
}

void ZVEncodedSoundPacket::setNeedsPacketDescriptionsForNumPackets(uint32_t n) {
    _packetDescription.assign(n, ZVAudioStreamPacketDescription{});
    _numberOfPackets = n;
}

int64_t ZVEncodedSoundPacket::dataSize() const {
    int64_t size = 0;
    for (const ZVAudioBuffer& b : _bufferList) size += b.mDataByteSize;
    return size + 16 * int64_t{_numberOfPackets};
}
