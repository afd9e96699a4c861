// The sound encoder between a scripted PCM source and a recording destination, over the
// real FFmpeg converter: block sizes, how input is cut, ending on an empty finalized
// source, and a tone that comes out whole.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>

#include "Audio/ZVSoundPacket.h"
#include "Export/ZVSoundEncoder.h"
#include "Media/ZVCodecSettings.h"
#include "Media/ZVEncodedSoundPacket.h"
#include "Platform/FFmpeg/ZVFFmpegMediaToolkit.h"
#include "support/ZVStageHarness.h"
#include "support/ZVTestSupport.h"

namespace {
const ZVSoundFormat kStereo16{2, 16, 44100, kZVSoundFormatSignedInteger};

ZVAudioStreamDescription output(uint32_t format, double rate, uint32_t framesPerPacket) {
    ZVAudioStreamDescription d;
    d.sampleRate = rate;
    d.formatID = format;
    d.framesPerPacket = framesPerPacket;
    d.channelsPerFrame = 2;
    if (format == kZVAudioFormat_LinearPCM) {
        d.formatFlags = kZVAudioFormatFlagIsSignedInteger | kZVAudioFormatFlagIsPacked;
        d.bytesPerPacket = d.bytesPerFrame = 4;
        d.bitsPerChannel = 16;
    }
    return d;
}

std::shared_ptr<ZVSoundEncoder> encoderFor(const ZVAudioStreamDescription& d, int64_t bitRate = 0) {
    ZVCodecSettings settings(ZVCodecSettingsKind::sound);
    settings.setOutputDescription(d);
    if (bitRate) settings.setBitRate(bitRate);
    auto preset = ZVEncodingPreset::initWithName("test");
    preset->setSoundSettings(settings.save());
    return ZVSoundEncoder::initWithPreset(*preset, kStereo16);
}

std::shared_ptr<ZVSoundPacket> tone(int frames, int startFrame) {
    auto p = ZVSoundPacket::soundPacketWithFormat(kStereo16, frames);
    auto* s = reinterpret_cast<int16_t*>(p->baseAddres());
    for (int i = 0; i < frames; ++i)
        s[2 * i] = s[2 * i + 1] =
            int16_t(8000 * std::sin(2 * M_PI * 1000 * (startFrame + i) / 44100.0));
    return p;
}

// Runs `encoder` to its own stop; false when it did not stop in time.
bool runToStop(ZVSoundEncoder& encoder) {
    std::atomic<bool> stopped{false};
    int token;
    ZVNotificationCenter::defaultCenter().addObserver(
        &token, ZVSoundEncoderDidStopNotification, &encoder,
        [&](const ZVNotification&) { stopped = true; });
    encoder.start();
    encoder.finalize();
    bool done = zvtest::runMainUntil([&] { return stopped.load(); }, 20);
    ZVNotificationCenter::defaultCenter().removeObserver(&token);
    return done;
}
}  // namespace

TEST(SoundEncoderTest, BlocksHoldFiveSecondsOfPacketsPlusTwo) {
    struct Case {
        ZVAudioStreamDescription out;
        uint32_t packets;
    } cases[] = {
        {output(kZVAudioFormat_LinearPCM, 44100, 1), 220502},
        {output(kZVAudioFormat_AAC, 44100, 1024), 217},
        {output(kZVAudioFormat_AAC, 48000, 1152), 210},
    };
    for (const Case& c : cases) {
        auto e = encoderFor(c.out);
        ASSERT_TRUE(e);
        EXPECT_EQ(e->packetsPerBlock(), c.packets);
    }
    EXPECT_EQ(encoderFor(cases[0].out)->blockSize(), 882008u);
    EXPECT_GT(encoderFor(cases[1].out)->blockSize(), 217u * 2 * 256);

    ZVAudioStreamDescription lpcm = ZVSoundEncoder::LPCMASBDForFormat(kStereo16);
    EXPECT_EQ(lpcm.formatFlags, 0x80000004u);
    EXPECT_EQ(lpcm.bytesPerPacket, 4u);
    EXPECT_EQ(lpcm.bytesPerFrame, 4u);

    auto packet = ZVEncodedSoundPacket::initWihNumberBuffers(1, 1000, 2);
    packet->setActualNumberOfPackets(5);
    EXPECT_EQ(packet->dataSize(), 1080);
}

TEST(SoundEncoderTest, CutsInputInPlaceAndNeverAcrossTwoPackets) {
    auto e = encoderFor(output(kZVAudioFormat_AAC, 44100, 1024));
    zvtest::ScriptedSource source;
    auto first = tone(4096, 0), second = tone(4096, 4096);
    source.push(first);
    source.push(second);
    e->setDataSource(&source);
    std::vector<uint32_t> counts;
    for (int call = 0; call < 6; ++call) {
        const uint8_t* data = nullptr;
        uint32_t count = 1000;
        e->getPackets(&data, count);
        counts.push_back(count);
        const auto& expected = call < 5 ? first : second;
        EXPECT_EQ(data, expected->baseAddres() + (call < 5 ? call * 4000 : 0)) << call;
    }
    EXPECT_EQ(counts, (std::vector<uint32_t>{1000, 1000, 1000, 1000, 96, 1000}));
    EXPECT_EQ(source.remaining(), 0u);
}

TEST(SoundEncoderTest, EmptySourceFinalizedStopsWithNothingMade) {
    auto e = encoderFor(output(kZVAudioFormat_AAC, 44100, 1024));
    zvtest::ScriptedSource source;
    zvtest::RecordingDestination out;
    e->setDataSource(&source);
    e->setDataDestination(&out);
    ASSERT_TRUE(runToStop(*e));
    EXPECT_EQ(out.count(), 0u);
    EXPECT_EQ(e->failureReason(), "");
}

TEST(SoundEncoderTest, EveryFrameOfAToneComesOutInTheOutputFormats) {
    const struct {
        ZVAudioStreamDescription out;
        int64_t bitRate;
    } cases[] = {{output(kZVAudioFormat_AAC, 44100, 1024), 32000},  // not the 128000 default
                 {output(kZVAudioFormat_AppleLossless, 44100, 4096), 0},
                 {output(kZVAudioFormat_LinearPCM, 48000, 1), 0}};
    for (const auto& [out, bitRate] : cases) {
        auto e = encoderFor(out, bitRate);
        ASSERT_TRUE(e);
        zvtest::ScriptedSource source;
        zvtest::RecordingDestination made;
        constexpr int kFrames = 3 * 44100;
        for (int f = 0; f < kFrames; f += 4096) source.push(tone(std::min(4096, kFrames - f), f));
        e->setDataSource(&source);
        e->setDataDestination(&made);
        ASSERT_TRUE(runToStop(*e));
        int64_t frames = 0, total = 0;
        for (auto& o : made.objects()) {
            auto p = std::dynamic_pointer_cast<ZVEncodedSoundPacket>(o);
            ASSERT_TRUE(p);
            const uint32_t bytes = p->bufferList()[0].mDataByteSize;
            total += bytes;
            if (!p->packetDescription()) {
                frames += bytes / out.bytesPerPacket;
                continue;
            }
            for (uint32_t i = 0; i < p->numberOfPackets(); ++i) {
                const auto& d = p->packetDescription()[i];
                EXPECT_LE(d.mStartOffset + d.mDataByteSize, bytes);
                frames += d.mVariableFramesInPacket;
            }
        }
        const auto description = e->getSoundDescription();
        const double expected = kFrames * out.sampleRate / 44100 + description->primingFrames;
        // The resampler's filter may add or hold back a few frames at the ends.
        EXPECT_NEAR(double(frames), expected, 64) << ZVStringFromFourCC(out.formatID);
        EXPECT_EQ(description->magicCookie.empty(), out.formatID == kZVAudioFormat_LinearPCM);
        if (bitRate) {
            EXPECT_NEAR(total * 8 / 3.0, double(bitRate), bitRate * 0.2);
        }
    }
}
