#include <gtest/gtest.h>

#include "ZorvanInternal.h"
#include "support/ZVTestSupport.h"

namespace {
constexpr ZVSoundFormat kStereo16{2, 16, 44100, kZVSoundFormatSignedInteger};

std::vector<uint8_t> bytesOf(const ZVSoundPacket& p) {
    return std::vector<uint8_t>(p.baseAddres(), p.baseAddres() + p.bufferSize());
}
}  // namespace

TEST(ZVSoundPacket, SizesFollowWholeBytesPerSample) {
    auto p = ZVSoundPacket::soundPacketWithFormat(kStereo16, 4096);
    ASSERT_TRUE(p);
    EXPECT_EQ(p->bufferSize(), 16384);
    EXPECT_EQ(p->dataSize(), 16384);

    // 12 bits round down to one byte per sample.
    auto twelve = ZVSoundPacket::soundPacketWithFormat({2, 12, 8000, 0}, 1000);
    ASSERT_TRUE(twelve);
    EXPECT_EQ(twelve->bufferSize(), 2000);

    // Zero frames is a valid, empty packet, not an allocation failure.
    auto empty = ZVSoundPacket::soundPacketWithFormat(kStereo16, 0);
    ASSERT_TRUE(empty);
    EXPECT_EQ(empty->bufferSize(), 0);
    EXPECT_NE(empty->baseAddres(), nullptr);
}

TEST(ZVSoundPacket, SizesBeyondThirtyTwoBitsFailInsteadOfWrapping) {
    zvtest::LogCapture log;
    zvtest::StderrCapture err;
    // 4 x 0x40000001 bytes wraps to 4 in 32 bits; a 4-byte buffer would be overrun.
    EXPECT_FALSE(ZVSoundPacket::soundPacketWithFormat(kStereo16, 0x40000001));
    EXPECT_FALSE(ZVSoundPacket::soundPacketWithFormat(kStereo16, -1));
    EXPECT_FALSE(ZVSoundPacket::initWithFormat({-2, 16, 44100, 4}, 10));
    EXPECT_EQ(ZVSoundPacket::bufferSizeFor(kStereo16, 0x40000001), -1);
    EXPECT_EQ(ZVSoundPacket::bufferSizeFor({65535, 65535, 1, 0}, 0), 0);
    EXPECT_EQ(log.lines().size(), 3u);
}

TEST(ZVSoundPacket, SwapReversesEverySampleOfTheWholeBuffer) {
    struct Case {
        int bits;
        std::vector<uint8_t> in, out;
    } cases[] = {
        {16, {1, 2, 3, 4}, {2, 1, 4, 3}},
        {24, {1, 2, 3, 4, 5, 6}, {3, 2, 1, 6, 5, 4}},
        {32, {1, 2, 3, 4, 5, 6, 7, 8}, {4, 3, 2, 1, 8, 7, 6, 5}},
        {8, {1, 2, 3, 4}, {1, 2, 3, 4}},   // 8-bit sound is never swapped
        {12, {1, 2, 3, 4}, {1, 2, 3, 4}},  // fewer than 16 bits: nothing
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.bits);
        ZVSoundFormat f{2, c.bits, 48000, kZVSoundFormatBigEndian | kZVSoundFormatSignedInteger};
        const int32_t frames = int32_t(c.in.size()) / (2 * (c.bits / 8));
        auto p = ZVSoundPacket::soundPacketWithFormat(f, frames);
        ASSERT_TRUE(p);
        ASSERT_EQ(size_t(p->bufferSize()), c.in.size());
        std::copy(c.in.begin(), c.in.end(), p->baseAddres());
        p->swapByteOrder();
        EXPECT_EQ(bytesOf(*p), c.out);
        EXPECT_EQ(p->format(), f);  // still says big-endian
        p->swapByteOrder();
        EXPECT_EQ(bytesOf(*p), c.in);
    }
}

TEST(ZVSoundPacket, WeighsItsBufferInAQueue) {
    ZVQueue q;
    q.setLimit(kZVQueueNoLimit);
    q.addObject(ZVSoundPacket::soundPacketWithFormat(kStereo16, 1024));
    q.addObject(ZVSoundPacket::soundPacketWithFormat({1, 8, 8000, 0}, 100));
    EXPECT_EQ(q.byteCount(), 4096 + 100);
}
