#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <thread>

#include "ZVAudioTestUtil.h"
#include "Zorvan.h"
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

bool allZero(const std::vector<uint8_t>& b, size_t from, size_t to) {
    for (size_t i = from; i < to; ++i)
        if (b[i]) return false;
    return true;
}

// A reader's 68-byte header with the given fields, followed by `payload` bytes 0, 1, 2...
std::vector<uint8_t> readerFile(uint16_t channels, uint16_t bits, uint32_t rate, size_t payload,
                                uint16_t tag = 1) {
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
}  // namespace

TEST(ZVWavWriter, SignedIntegerLayoutThreePackets) {
    zvtest::TempDir dir;
    const std::string path = dir.file("a.wav");
    std::vector<std::shared_ptr<ZVSoundPacket>> packets;
    for (uint8_t i = 0; i < 3; ++i) packets.push_back(patternPacket(kStereo16, 1024, i * 7));
    ASSERT_TRUE(writeWav(path, kStereo16, packets));

    auto b = readBytes(path);
    ASSERT_EQ(b.size(), 92u + 12288u);
    EXPECT_EQ(std::string(b.begin(), b.begin() + 4), "RIFF");
    EXPECT_EQ(u32At(b, 4), 12324u);
    EXPECT_EQ(std::string(b.begin() + 8, b.begin() + 16), "WAVEfmt ");
    EXPECT_EQ(u32At(b, 16), 16u);
    EXPECT_EQ(u16At(b, 20), 1);
    EXPECT_EQ(u16At(b, 22), 2);
    EXPECT_EQ(u32At(b, 24), 44100u);
    EXPECT_EQ(u32At(b, 28), 176400u);
    EXPECT_EQ(u16At(b, 32), 4);
    EXPECT_EQ(u16At(b, 34), 16);
    EXPECT_EQ(std::string(b.begin() + 36, b.begin() + 40), "data");
    EXPECT_EQ(u32At(b, 40), 12288u);
    EXPECT_TRUE(allZero(b, 44, 92));
    EXPECT_EQ(std::vector<uint8_t>(b.begin() + 92, b.end()), concat(packets));
}

TEST(ZVWavWriter, EightBitAndFloatLayouts) {
    zvtest::TempDir dir;
    // 8-bit unsigned: tag 0, samples from byte 80.
    ZVSoundFormat u8{1, 8, 8000, 0};
    auto p8 = patternPacket(u8, 100, 1);
    ASSERT_TRUE(writeWav(dir.file("u8.wav"), u8, {p8}));
    auto b = readBytes(dir.file("u8.wav"));
    ASSERT_EQ(b.size(), 180u);
    EXPECT_EQ(u16At(b, 20), 0);
    EXPECT_EQ(u32At(b, 4), 136u);
    EXPECT_EQ(u32At(b, 40), 100u);
    EXPECT_TRUE(allZero(b, 44, 80));
    EXPECT_EQ(std::vector<uint8_t>(b.begin() + 80, b.end()), concat({p8}));

    // 32-bit float stereo: fmt of 18 bytes, fact chunk, samples from byte 58.
    ZVSoundFormat f32{2, 32, 48000, kZVSoundFormatFloat};
    auto pf = patternPacket(f32, 300, 3);
    ASSERT_TRUE(writeWav(dir.file("f.wav"), f32, {pf}));
    b = readBytes(dir.file("f.wav"));
    const uint32_t D = 300 * 8;
    ASSERT_EQ(b.size(), 58u + D);
    EXPECT_EQ(u32At(b, 4), 50u + D);
    EXPECT_EQ(u32At(b, 16), 18u);
    EXPECT_EQ(u16At(b, 20), 3);
    EXPECT_EQ(u16At(b, 36), 0);  // cbSize
    EXPECT_EQ(std::string(b.begin() + 38, b.begin() + 42), "fact");
    EXPECT_EQ(u32At(b, 42), 4u);
    EXPECT_EQ(u32At(b, 46), 600u);  // samples of both channels
    EXPECT_EQ(std::string(b.begin() + 50, b.begin() + 54), "data");
    EXPECT_EQ(u32At(b, 54), D);
    EXPECT_EQ(std::vector<uint8_t>(b.begin() + 58, b.end()), concat({pf}));
}

TEST(ZVWavWriter, StoppedBeforeAnyPacketLeavesTheHeaderAlone) {
    zvtest::TempDir dir;
    for (ZVSoundFormat f : {kStereo16, ZVSoundFormat{1, 8, 8000, 0},
                            ZVSoundFormat{2, 32, 48000, kZVSoundFormatFloat}}) {
        SCOPED_TRACE(f.flags);
        const std::string path = dir.file("empty.wav");
        auto writer = ZVWavIO::wavIOForWriting(path, f);
        StopWatcher stop(ZVWavIODidStopNotification, writer.get());
        writer->start();
        ASSERT_TRUE(zvtest::runMainUntil([&] { return writer->isRunning(); }));
        writer->stop();
        ASSERT_TRUE(stop.wait());
        auto b = readBytes(path);
        const bool isFloat = f.flags & kZVSoundFormatFloat;
        ASSERT_EQ(b.size(), isFloat ? 58u : 44u);
        EXPECT_EQ(u32At(b, 4), isFloat ? 50u : 36u);
        EXPECT_EQ(u32At(b, isFloat ? 54 : 40), 0u);
        EXPECT_EQ(writer->frames(), 0);
        // Nothing follows the header: its zero sizes are the truth, not a writer cut short.
        auto d = ZVWavHeader::describeFile(path);
        ASSERT_TRUE(d);
        EXPECT_TRUE(d->sizesPatched);
    }
}

TEST(ZVWavWriter, RateIsTruncatedAndFramesAndDurationFollowTheHeader) {
    zvtest::TempDir dir;
    ZVSoundFormat f{1, 16, 22050.7f, kZVSoundFormatSignedInteger};
    const std::string path = dir.file("r.wav");
    auto writer = ZVWavIO::wavIOForWriting(path, f);
    ZVQueue q;
    q.addObject(patternPacket(f, 22050, 0));
    writer->setDataSource(&q);
    StopWatcher stop(ZVWavIODidStopNotification, writer.get());
    writer->start();
    ASSERT_TRUE(zvtest::runMainUntil([&] { return writer->isRunning(); }));
    writer->finalize();
    ASSERT_TRUE(stop.wait());
    auto b = readBytes(path);
    EXPECT_EQ(u32At(b, 24), 22050u);
    EXPECT_EQ(u32At(b, 28), 44100u);
    EXPECT_EQ(writer->frames(), 22050);
    EXPECT_FLOAT_EQ(float(writer->duration()), 22050.0f / 22050.7f);
    EXPECT_EQ(writer->fileInfo().chData.Subchunk2Size, 44100u);

    auto d = ZVWavHeader::describeFile(path);
    ASSERT_TRUE(d);
    EXPECT_EQ(d->frames, 22050u);
    EXPECT_DOUBLE_EQ(d->duration, 1.0);
    EXPECT_TRUE(d->sizesPatched);
}

TEST(ZVWavWriter, WithoutAFrameSizeItWritesNothingAndStillStops) {
    zvtest::TempDir dir;
    zvtest::LogCapture log;
    auto writer = ZVWavIO::initWithFile(dir.file("none.wav"), ZVWavIO::kModeWrite);
    EXPECT_EQ(writer->frames(), 0);
    EXPECT_EQ(writer->duration(), 0);
    StopWatcher stop(ZVWavIODidStopNotification, writer.get());
    writer->start();
    ASSERT_TRUE(stop.wait());
    EXPECT_TRUE(log.contains("has no frame size"));
    struct stat st;
    EXPECT_NE(stat(dir.file("none.wav").c_str(), &st), 0);
}

TEST(ZVWavWriter, AWriteErrorIsAnAlertAndTheStageStillStops) {
    zvtest::AlertCapture alerts;
    auto writer = ZVWavIO::wavIOForWriting("/dev/full", kStereo16);
    ZVQueue q;
    q.addObject(patternPacket(kStereo16, 16, 0));
    writer->setDataSource(&q);
    StopWatcher stop(ZVWavIODidStopNotification, writer.get());
    writer->start();
    ASSERT_TRUE(stop.wait());
    auto a = alerts.alerts();
    ASSERT_EQ(a.size(), 1u);
    EXPECT_EQ(a[0].first, "-[ZVWavIO wavWriter]");
    EXPECT_NE(a[0].second.find("No space left on device"), std::string::npos);
}

TEST(ZVWavReader, DeliversEverythingBehindTheFixedHeader) {
    zvtest::TempDir dir;
    // 4098 bytes behind byte 68: 1024 frames, then an empty packet for the last 2 bytes.
    writeBytes(dir.file("r.wav"), readerFile(2, 16, 44100, 4098));
    std::vector<std::shared_ptr<ZVSoundPacket>> packets;
    ZVSoundFormat f;
    ASSERT_TRUE(readWav(dir.file("r.wav"), &packets, &f));
    ASSERT_EQ(packets.size(), 2u);
    EXPECT_EQ(packets[0]->numberOfFrames(), 1024);
    EXPECT_EQ(packets[1]->numberOfFrames(), 0);
    auto all = concat(packets);
    ASSERT_EQ(all.size(), 4096u);
    for (size_t i = 0; i < all.size(); ++i) ASSERT_EQ(all[i], uint8_t(i));
    EXPECT_EQ(f, (ZVSoundFormat{2, 16, 44100, kZVSoundFormatSignedInteger}));
}

TEST(ZVWavReader, ZeroChannelsAndBitsMeanSixteenBitStereo) {
    zvtest::TempDir dir;
    writeBytes(dir.file("z.wav"), readerFile(0, 0, 8000, 400));
    std::vector<std::shared_ptr<ZVSoundPacket>> packets;
    ZVSoundFormat f;
    ASSERT_TRUE(readWav(dir.file("z.wav"), &packets, &f));
    EXPECT_EQ(f.numberOfChannels, 2);
    EXPECT_EQ(f.bitsPerChannel, 16);
    EXPECT_EQ(f.flags, kZVSoundFormatSignedInteger);
    ASSERT_EQ(packets.size(), 1u);
    EXPECT_EQ(packets[0]->numberOfFrames(), 100);
}

TEST(ZVWavReader, AReadErrorIsAnAlert) {
    zvtest::TempDir dir;
    zvtest::AlertCapture alerts;
    std::vector<std::shared_ptr<ZVSoundPacket>> packets;
    ASSERT_TRUE(readWav(dir.path(), &packets));  // a directory exists but cannot be read
    auto a = alerts.alerts();
    ASSERT_EQ(a.size(), 1u);
    EXPECT_EQ(a[0].first, "-[ZVWavIO wavReader]");
    EXPECT_EQ(ZVWavIO::wavIOForReading(dir.file("missing.wav")), nullptr);
}

TEST(ZVWavReader, WaitsForARefusingDestinationAndEndsOnStop) {
    struct Refusing : ZVDataDestination {
        std::atomic<int> asked{0};
        bool canAcceptObject() override { return ++asked, false; }
        void addObject(ZVObjectRef) override { ADD_FAILURE() << "added to a refusing destination"; }
    } refusing;
    zvtest::TempDir dir;
    writeBytes(dir.file("r.wav"), readerFile(2, 16, 44100, 8192));
    auto reader = ZVWavIO::wavIOForReading(dir.file("r.wav"));
    EXPECT_EQ(reader->format(), ZVSoundFormat{});  // nothing known before the header is read
    EXPECT_EQ(reader->frames(), 0);
    reader->setDataDestination(&refusing);
    StopWatcher stop(ZVWavIODidStopNotification, reader.get());
    reader->start();
    ASSERT_TRUE(zvtest::runMainUntil([&] { return refusing.asked.load() >= 3; }));
    reader->stop();
    ASSERT_TRUE(stop.wait());
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
    std::atomic<int> pausePosts{0};
    ZVNotificationCenter::defaultCenter().addObserver(
        &pausePosts, ZVWavIODidChangePauseStateNotification, writer.get(),
        [&](const ZVNotification&) { ++pausePosts; });
    writer->pause(true);  // not running: nothing
    writer->stop();
    EXPECT_EQ(pausePosts.load(), 0);
    StopWatcher stop(ZVWavIODidStopNotification, writer.get());
    writer->start();
    // did-start reaches the delegate through the main queue, a pause change at once.
    ASSERT_TRUE(zvtest::runMainUntil([&] { return !delegate.calls.empty(); }));
    writer->pause(true);
    writer->pause(true);  // same state: nothing
    writer->pause(false);
    writer->stop();
    ASSERT_TRUE(stop.wait());
    zvtest::runMainUntil([&] { return delegate.calls.size() >= 4; });
    EXPECT_EQ(pausePosts.load(), 2);
    EXPECT_EQ(delegate.calls, (std::vector<std::string>{"start", "paused", "resumed", "stop"}));
    ZVNotificationCenter::defaultCenter().removeObserver(&pausePosts);
}

TEST(ZVWavHeader, DescribesTheFloatLayoutAndAnUnpatchedFile) {
    zvtest::TempDir dir;
    ZVSoundFormat f32{2, 32, 48000, kZVSoundFormatFloat};
    ASSERT_TRUE(writeWav(dir.file("f.wav"), f32, {patternPacket(f32, 24000, 0)}));
    auto d = ZVWavHeader::describeFile(dir.file("f.wav"));
    ASSERT_TRUE(d);
    EXPECT_EQ(d->audioFormat, 3);
    EXPECT_EQ(d->format, f32);
    EXPECT_EQ(d->frames, 24000u);
    EXPECT_DOUBLE_EQ(d->duration, 0.5);

    // A writer that never patched its header: samples behind a header of 0 frames.
    auto header =
        ZVWavHeader::bytes(ZVWavHeader::records(kStereo16, 0), ZVWavHeader::layoutFor(kStereo16));
    header.resize(92 + 4000, 1);
    writeBytes(dir.file("cut.wav"), header);
    d = ZVWavHeader::describeFile(dir.file("cut.wav"));
    ASSERT_TRUE(d);
    EXPECT_EQ(d->frames, 0u);
    EXPECT_FALSE(d->sizesPatched);

    std::string why;
    writeBytes(dir.file("no.wav"), {1, 2, 3});
    EXPECT_FALSE(ZVWavHeader::describeFile(dir.file("no.wav"), &why));
    EXPECT_FALSE(why.empty());
}
