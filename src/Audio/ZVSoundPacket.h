#pragma once
#include "ZVPrivate.h"  // library-internal

// A block of interleaved PCM frames with the format that describes them: what the
// microphone recorder and the WAV reader make, and the WAV writer and the sound encoder
// take. The producer fills the buffer before it queues the packet; after that only the
// one consumer that took it from the queue touches it, so there is no lock.
#include <cstdint>
#include <memory>

#include "Audio/ZVSoundFormat.h"
#include "Pipeline/ZVDataFlow.h"

class ZVSoundPacket : public ZVQueueObject {
  public:
    // A packet with an uncleared buffer of (bitsPerChannel / 8) x frames x channels bytes,
    // or nullptr after the ME-5 report when that size is negative, does not fit a signed
    // 32-bit integer, or cannot be allocated. Any thread.
    static std::shared_ptr<ZVSoundPacket> soundPacketWithFormat(ZVSoundFormat format,
                                                                int32_t numberOfFrames);
    // The same; kept beside the factory above under the initialiser's name. Any thread.
    static std::shared_ptr<ZVSoundPacket> initWithFormat(ZVSoundFormat format,
                                                         int32_t numberOfFrames);
    ~ZVSoundPacket() override;
    ZVSoundPacket(const ZVSoundPacket&) = delete;
    ZVSoundPacket& operator=(const ZVSoundPacket&) = delete;

    // The four values given at creation, whatever swapByteOrder did. Any thread.
    ZVSoundFormat format() const { return _format; }
    // The first byte of the sample buffer; the packet owns it. Producer or consumer.
    uint8_t* baseAddres() const { return _packetBuffer; }
    // The buffer's size in bytes and the frame count it was made for. Any thread.
    int32_t bufferSize() const { return _bufferSize; }
    int32_t numberOfFrames() const { return _numFrames; }
    // The weight a queue counts against its limit: the buffer size. Any thread.
    int64_t dataSize() const override { return _bufferSize; }

    // Reverses the bytes of every sample of the whole buffer in place (samples of 16 bits
    // and more only); the format keeps its flags. Consumer only.
    void swapByteOrder();

    // The size a packet of this format and frame count would have, computed in 64 bits;
    // -1 when it is negative or beyond the signed 32-bit range. Any thread.
    static int64_t bufferSizeFor(ZVSoundFormat format, int32_t numberOfFrames);

  private:
    ZVSoundPacket(ZVSoundFormat format, int32_t numberOfFrames, uint8_t* buffer, int32_t size)
        : _packetBuffer(buffer), _bufferSize(size), _numFrames(numberOfFrames), _format(format) {}

    uint8_t* _packetBuffer;
    int32_t _bufferSize;
    int32_t _numFrames;
    ZVSoundFormat _format;
};

// Where sound-packet buffers come from: malloc, unless a test installs one that fails on
// purpose to reach the failure paths. It must answer memory that free() releases, or
// nullptr; nullptr installs malloc again. Not while packets are being made on other
// threads.
using ZVSoundPacketAllocator = void* (*)(size_t);
void ZVSetSoundPacketAllocator(ZVSoundPacketAllocator allocator);
