#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>

#include "ZVAudioTestUtil.h"
#include "ZorvanInternal.h"
#include "support/ZVStageHarness.h"
#include "support/ZVTestSupport.h"

using namespace zvaudiotest;

namespace {
constexpr ZVSoundFormat kStereo16{2, 16, 44100, kZVSoundFormatSignedInteger};

std::vector<uint8_t> concat(const std::vector<std::shared_ptr<ZVSoundPacket>>& packets) {
    std::vector<uint8_t> all;
    for (auto& p : packets)
        all.insert(all.end(), p->baseAddres(), p->baseAddres() + p->bufferSize());
    return all;
}

}  // namespace

TEST(ZVWavWriter, HeaderAndSamplesOfEachLayoutBeforeAndAfterThePackets) {
    struct Case {
        ZVSoundFormat f;
        uint32_t fmtSize, dataChunkAt, samplesAt;  // "data" and its size; the first sample
        uint16_t tag;
    } cases[] = {{kStereo16, 16, 36, 92, 1},
                 {{1, 8, 8000, 0}, 16, 36, 80, 0},
                 {{2, 32, 48000, kZVSoundFormatFloat}, 18, 50, 58, 3},
                 // the header's rate is truncated; the writer's own duration is not
                 {{1, 16, 22050.7f, kZVSoundFormatSignedInteger}, 16, 36, 92, 1}};
    zvtest::TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.f.sampleRate);
        const uint32_t frameSize = uint32_t(c.f.bytesPerFrame()), rate = uint32_t(c.f.sampleRate);
        // Stopped before any packet: the header alone, whose zero sizes are the truth.
        auto writer = writeWav(dir.file("empty.wav"), c.f, {});
        ASSERT_TRUE(writer);
        EXPECT_EQ(writer->frames(), 0);
        auto b = readBytes(dir.file("empty.wav"));
        ASSERT_EQ(b.size(), c.dataChunkAt + 8);
        EXPECT_EQ(u32At(b, 4), c.dataChunkAt);
        EXPECT_EQ(u32At(b, c.dataChunkAt + 4), 0u);
        auto d = ZVWavHeader::describeFile(dir.file("empty.wav"));
        ASSERT_TRUE(d);
        EXPECT_TRUE(d->sizesPatched);

        std::vector<std::shared_ptr<ZVSoundPacket>> packets;
        for (uint8_t i = 0; i < 3; ++i) packets.push_back(patternPacket(c.f, 1000, i * 7));
        const uint32_t D = 3000 * frameSize;
        writer = writeWav(dir.file("a.wav"), c.f, packets);
        ASSERT_TRUE(writer);
        EXPECT_EQ(writer->frames(), 3000);
        EXPECT_FLOAT_EQ(float(writer->duration()), 3000 / c.f.sampleRate);
        EXPECT_EQ(writer->fileInfo().chData.Subchunk2Size, D);
        b = readBytes(dir.file("a.wav"));
        ASSERT_EQ(b.size(), c.samplesAt + D);
        EXPECT_EQ(std::string(b.begin(), b.begin() + 4), "RIFF");
        EXPECT_EQ(u32At(b, 4), c.dataChunkAt + D);
        EXPECT_EQ(std::string(b.begin() + 8, b.begin() + 16), "WAVEfmt ");
        EXPECT_EQ(u32At(b, 16), c.fmtSize);
        EXPECT_EQ(u16At(b, 20), c.tag);
        EXPECT_EQ(u16At(b, 22), c.f.numberOfChannels);
        EXPECT_EQ(u32At(b, 24), rate);
        EXPECT_EQ(u32At(b, 28), rate * frameSize);
        EXPECT_EQ(u16At(b, 32), frameSize);
        EXPECT_EQ(u16At(b, 34), c.f.bitsPerChannel);
        if (c.tag == 3) {  // cbSize, then a fact chunk counting the samples of all channels
            EXPECT_EQ(u16At(b, 36), 0);
            EXPECT_EQ(std::string(b.begin() + 38, b.begin() + 42), "fact");
            EXPECT_EQ(u32At(b, 42), 4u);
            EXPECT_EQ(u32At(b, 46), 3000u * c.f.numberOfChannels);
        }
        EXPECT_EQ(std::string(b.begin() + c.dataChunkAt, b.begin() + c.dataChunkAt + 4), "data");
        EXPECT_EQ(u32At(b, c.dataChunkAt + 4), D);
        EXPECT_TRUE(std::all_of(b.begin() + c.dataChunkAt + 8, b.begin() + c.samplesAt,
                                [](uint8_t x) { return x == 0; }));  // the gap reads as zeros
        EXPECT_EQ(std::vector<uint8_t>(b.begin() + c.samplesAt, b.end()), concat(packets));

        d = ZVWavHeader::describeFile(dir.file("a.wav"));
        ASSERT_TRUE(d);
        EXPECT_EQ(d->audioFormat, c.tag);
        EXPECT_EQ(d->format, (ZVSoundFormat{c.f.numberOfChannels, c.f.bitsPerChannel, float(rate),
                                            c.f.flags}));
        EXPECT_EQ(d->frames, 3000u);
        EXPECT_DOUBLE_EQ(d->duration, 3000.0 / rate);
        EXPECT_TRUE(d->sizesPatched);
    }
}

TEST(ZVWavWriter, WithoutAFrameSizeItWritesNothingAndStillStops) {
    zvtest::TempDir dir;
    zvtest::LogCapture log;
    auto writer = ZVWavIO::initWithFile(dir.file("none.wav"), ZVWavIO::kModeWrite);
    EXPECT_EQ(writer->frames(), 0);
    EXPECT_EQ(writer->duration(), 0);
    Posted stop(ZVWavIODidStopNotification, writer.get());
    writer->start();
    ASSERT_TRUE(stop.wait());
    EXPECT_TRUE(log.contains("has no frame size"));
    struct stat st;
    EXPECT_NE(stat(dir.file("none.wav").c_str(), &st), 0);
}

TEST(ZVWavReader, DeliversEverythingBehindTheFixedHeader) {
    struct Case {
        uint16_t channels, bits;
        uint32_t rate;
        size_t payload;
        ZVSoundFormat f;
        std::vector<int32_t> frames;  // of each packet
    } cases[] = {
        // 4098 bytes behind byte 68: 1024 frames, then an empty packet for the last 2 bytes.
        {2, 16, 44100, 4098, kStereo16, {1024, 0}},
        // Zero channels and bits mean 16-bit stereo.
        {0, 0, 8000, 400, {2, 16, 8000, kZVSoundFormatSignedInteger}, {100}}};
    zvtest::TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.payload);
        writeBytes(dir.file("r.wav"), readerFile(c.channels, c.bits, c.rate, c.payload));
        std::vector<std::shared_ptr<ZVSoundPacket>> packets;
        ZVSoundFormat f;
        ASSERT_TRUE(readWav(dir.file("r.wav"), &packets, &f));
        EXPECT_EQ(f, c.f);
        std::vector<int32_t> frames;
        for (auto& p : packets) frames.push_back(p->numberOfFrames());
        EXPECT_EQ(frames, c.frames);
        auto all = concat(packets);
        ASSERT_EQ(all.size(), c.payload / 4 * 4);
        for (size_t i = 0; i < all.size(); ++i) ASSERT_EQ(all[i], uint8_t(i));
    }
}

TEST(ZVWavIO, AFileErrorIsAnAlertAndTheStageStillStops) {
    zvtest::TempDir dir;
    ZVQueue q;
    q.addObject(patternPacket(kStereo16, 16, 0));
    auto writer = ZVWavIO::wavIOForWriting("/dev/full", kStereo16);
    writer->setDataSource(&q);
    auto reader = ZVWavIO::wavIOForReading(dir.path());  // a directory opens but cannot be read
    reader->setDataDestination(&q);
    struct Case {
        ZVWavIO* stage;
        const char *title, *reason;
    } cases[] = {{writer.get(), "-[ZVWavIO wavWriter]", "No space left on device"},
                 {reader.get(), "-[ZVWavIO wavReader]", "Could not read"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.title);
        zvtest::AlertCapture alerts;
        Posted stop(ZVWavIODidStopNotification, c.stage);
        c.stage->start();
        ASSERT_TRUE(stop.wait());
        auto a = alerts.alerts();
        ASSERT_EQ(a.size(), 1u);
        EXPECT_EQ(a[0].first, c.title);
        EXPECT_NE(a[0].second.find(c.reason), std::string::npos) << a[0].second;
    }
    EXPECT_EQ(ZVWavIO::wavIOForReading(dir.file("missing.wav")), nullptr);
}

TEST(ZVWavReader, WaitsForARefusingDestinationAndEndsOnStop) {
    zvtest::RecordingDestination refusing;
    refusing.setAccepting(false);
    zvtest::TempDir dir;
    writeBytes(dir.file("r.wav"), readerFile(2, 16, 44100, 8192));
    auto reader = ZVWavIO::wavIOForReading(dir.file("r.wav"));
    EXPECT_EQ(reader->format(), ZVSoundFormat{});  // nothing known before the header is read
    EXPECT_EQ(reader->frames(), 0);
    reader->setDataDestination(&refusing);
    Posted stop(ZVWavIODidStopNotification, reader.get());
    reader->start();
    ASSERT_TRUE(zvtest::runMainUntil([&] { return refusing.refusals() >= 3; }));
    reader->stop();
    ASSERT_TRUE(stop.wait());
    EXPECT_EQ(refusing.count(), 0u);
}

TEST(ZVWavIO, PauseAndStopActOnlyOnARunningStageWithAChange) {
    struct Delegate : ZVWavIODelegateInformalProtocol {
        std::vector<std::string> calls;
        void ZVWavIODidStart(ZVWavIO*) override { calls.push_back("start"); }
        void ZVWavIODidStop(ZVWavIO*) override { calls.push_back("stop"); }
        void ZVWavIODidChangePauseState(ZVWavIO*, bool p) override {
            calls.push_back(p ? "paused" : "resumed");
        }
    } delegate;
    zvtest::TempDir dir;
    auto writer = ZVWavIO::wavIOForWriting(dir.file("p.wav"), kStereo16);
    writer->setDelegate(&delegate);
    Posted pauses(ZVWavIODidChangePauseStateNotification, writer.get());
    writer->pause(true);  // not running: nothing
    writer->stop();
    EXPECT_EQ(pauses.count(), 0);
    Posted willStop(ZVWavIOWillStopNotification, writer.get());
    Posted stop(ZVWavIODidStopNotification, writer.get());
    writer->start();
    // did-start reaches the delegate through the main queue, a pause change at once.
    ASSERT_TRUE(zvtest::runMainUntil([&] { return !delegate.calls.empty(); }));
    writer->pause(true);
    writer->pause(true);  // same state: nothing
    writer->pause(false);
    writer->stop();
    ASSERT_TRUE(stop.wait());
    EXPECT_EQ(willStop.count(), 1);
    zvtest::runMainUntil([&] { return delegate.calls.size() >= 4; });
    EXPECT_EQ(pauses.count(), 2);
    EXPECT_EQ(delegate.calls, (std::vector<std::string>{"start", "paused", "resumed", "stop"}));
}

TEST(ZVWavHeader, DescribesAnUnpatchedFileAndRefusesOthers) {
    zvtest::TempDir dir;
    // A writer that never patched its header: samples behind a header of 0 frames.
    auto header =
        ZVWavHeader::bytes(ZVWavHeader::records(kStereo16, 0), ZVWavHeader::layoutFor(kStereo16));
    header.resize(92 + 4000, 1);
    writeBytes(dir.file("cut.wav"), header);
    auto d = ZVWavHeader::describeFile(dir.file("cut.wav"));
    ASSERT_TRUE(d);
    EXPECT_EQ(d->frames, 0u);
    EXPECT_FALSE(d->sizesPatched);

    std::string why;
    writeBytes(dir.file("no.wav"), {1, 2, 3});
    EXPECT_FALSE(ZVWavHeader::describeFile(dir.file("no.wav"), &why));
    EXPECT_FALSE(why.empty());
}
