// The screen recorder on a real Xvfb: suspension and the start offset, pauses taken out of
// the time line, a full destination, a rectangle change while recording, and changes
// drawn at any moment reaching the capture file.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <random>
#include <thread>

#include "Storage/ZVFomixIO.h"
#include "Video/ZVScreenRecorder.h"
#include "ZVRecorderTestSupport.h"
#include "support/ZVX11TestClient.h"
#include "support/ZVXvfbFixture.h"

ZV_XVFB_ENVIRONMENT(zvtest::XvfbLayout::OneMonitor);

namespace {
using namespace std::chrono_literals;
using zvtest::FrameRecord;
using zvtest::RecordingDestination;

class RecorderX11Test : public ::testing::Test {
  protected:
    void SetUp() override {
        ZV_REQUIRE_XVFB();
        ASSERT_TRUE(client.ok());
        ZVSetSharedApplication(nullptr);
        client.setRootCursor(zvtest::kCursorLeftPtr);
        recorder = ZVScreenRecorder::initWithRect(ZVMakeRect(0, 0, 320, 240));
        ASSERT_NE(recorder, nullptr);
        log.keep = zvtest::keepFrameRecord;
        recorder->setDataDestination(&log);
    }
    void TearDown() override {
        recorder.reset();
        ZVSetSharedApplication(nullptr);
    }
    void record() {
        recorder->start();
        recorder->setSuspended(false);
    }
    // The frames from index `from` on.
    std::vector<FrameRecord> since(size_t from) {
        auto all = zvtest::frameRecords(log);
        return {all.begin() + long(std::min(from, all.size())), all.end()};
    }

    zvtest::X11TestClient client;
    RecordingDestination log;
    std::shared_ptr<ZVScreenRecorder> recorder;
};

TEST_F(RecorderX11Test, NothingComesBeforeTheSuspensionEndsAndTheLateStartIsNoted) {
    double commonStart = ZVAbsoluteTimeGetCurrent();
    recorder->startAtTime(commonStart);
    EXPECT_TRUE(recorder->isRunning());
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(log.count(), 0u);
    EXPECT_EQ(recorder->capturedFrames(), 0);

    double resumedAt = ZVAbsoluteTimeGetCurrent();
    recorder->setSuspended(false);
    ASSERT_TRUE(log.waitForMore(5));
    double offset = recorder->startOffsetTime();
    EXPECT_GE(offset, resumedAt - commonStart);
    EXPECT_LT(offset, resumedAt - commonStart + 0.1);
    auto frames = zvtest::frameRecords(log);
    EXPECT_LT(frames[0].info.timestamp, 0.05);
    for (size_t i = 1; i < frames.size(); ++i)
        EXPECT_GT(frames[i].info.timestamp, frames[i - 1].info.timestamp);
    recorder->stop();
    EXPECT_FALSE(recorder->isRunning());
}

TEST_F(RecorderX11Test, APauseIsLeftOutOfTheTimestamps) {
    record();
    ASSERT_TRUE(log.waitForMore(10));
    recorder->pause(true);
    EXPECT_FALSE(recorder->isRunning());
    size_t paused = log.count();
    double lastBefore = zvtest::frameRecords(log).back().info.timestamp;
    std::this_thread::sleep_for(1s);
    EXPECT_EQ(log.count(), paused);  // no frame while paused
    recorder->stop();                // a paused recorder is not running: nothing happens
    recorder->pause(false);
    ASSERT_TRUE(log.waitForMore(3));
    double firstAfter = since(paused).front().info.timestamp;
    // The second of pause is gone: the next frame follows within a few frame periods.
    EXPECT_GT(firstAfter, lastBefore);
    EXPECT_LT(firstAfter - lastBefore, 0.2);
    recorder->stop();
}

TEST_F(RecorderX11Test, AFullDestinationHoldsTheRecorderBackWithoutDroppingFrames) {
    record();
    ASSERT_TRUE(log.waitForMore(5));
    log.setAccepting(false);
    std::this_thread::sleep_for(50ms);  // a tick may have been past its check
    size_t held = log.count();
    int32_t counted = recorder->capturedFrames();
    std::this_thread::sleep_for(400ms);
    EXPECT_EQ(log.count(), held);
    EXPECT_EQ(recorder->capturedFrames(), counted);
    EXPECT_GE(log.refusals(), 20);  // polled every 10 ms
    log.setAccepting(true);
    ASSERT_TRUE(log.waitForMore(5));
    recorder->stop();
    // Every frame made was delivered, in order.
    auto frames = zvtest::frameRecords(log);
    EXPECT_EQ(size_t(recorder->capturedFrames()), frames.size());
    for (size_t i = 1; i < frames.size(); ++i)
        EXPECT_GT(frames[i].info.timestamp, frames[i - 1].info.timestamp);
}

TEST_F(RecorderX11Test, ARectangleChangeWhileRecordingGivesFramesOfTheNewSize) {
    client.showColor(0, 1080 - 100, 200, 100, 0x00FF00);  // bottom-left corner, green
    log.keep = nullptr;  // whole frames: the last one's pixels are looked at
    record();
    ASSERT_TRUE(log.waitForMore(3));
    recorder->startSetRect();
    recorder->setRect(ZVMakeRect(0, 0, 200.5f, 100.9f));
    recorder->endSetRect();
    size_t mark = log.count() + 1;  // a tick may have read the old rectangle already
    ASSERT_TRUE(log.waitForMore(4));
    recorder->stop();
    for (const FrameRecord& f : since(mark)) {
        EXPECT_EQ(f.info.dimensions, (ZVSize{200, 100}));
        EXPECT_EQ(f.pixelsWidth, 200);
        EXPECT_EQ(f.pixelsHeight, 100);
    }
    auto last = std::dynamic_pointer_cast<ZVMovieFrame>(log.objects().back());
    ASSERT_NE(last, nullptr);
    uint32_t pixel;
    std::memcpy(&pixel, last->baseAddress() + 50 * last->bytesPerRow() + 100 * 4, 4);
    EXPECT_EQ(pixel, 0xFF00FF00u);  // B, G, R, A in memory: opaque green
}

// Two recorders at once, one of them resized: each frame holds its own rectangle, bottom
// row first, read straight into it (the fourth bytes are not looked at).
TEST_F(RecorderX11Test, TwoRectanglesAtOnceAndAResizeEachGetTheirOwnPixels) {
    client.showColor(0, 1080 - 100, 200, 100, 0x00FF00);  // bottom-left corner, green
    client.showColor(1000, 0, 300, 200, 0x0000FF);        // at the top, blue
    auto second = ZVScreenRecorder::initWithRect(ZVMakeRect(1000, 1080 - 160, 160, 96));
    ASSERT_NE(second, nullptr);
    RecordingDestination other;
    second->setDataDestination(&other);
    log.keep = nullptr;
    record();
    second->start();
    second->setSuspended(false);
    ASSERT_TRUE(log.waitForMore(3));
    recorder->startSetRect();
    recorder->setRect(ZVMakeRect(0, 0, 256, 128));
    recorder->endSetRect();
    ASSERT_TRUE(log.waitForMore(4));
    ASSERT_TRUE(other.waitForMore(3));
    recorder->stop();
    second->stop();
    auto colour = [](const ZVObjectRef& object, int x, int row) {
        auto f = std::dynamic_pointer_cast<ZVMovieFrame>(object);
        uint32_t pixel;
        std::memcpy(&pixel, f->baseAddress() + row * f->bytesPerRow() + x * 4, 4);
        return pixel & 0xFFFFFF;
    };
    const ZVObjectRef last = log.objects().back();
    EXPECT_EQ(colour(last, 10, 99), 0x00FF00u);
    EXPECT_NE(colour(last, 10, 100), 0x00FF00u);
    EXPECT_NE(colour(last, 230, 0), 0x00FF00u);
    for (const ZVObjectRef& frame : other.objects()) EXPECT_EQ(colour(frame, 159, 95), 0x0000FFu);
}

// The X server's pictures and damage (the pointer is the fake's), with a hook run after
// each damage question and before the read: where a change is in the frame's pixels but not
// in its damage.
class HookedServer : public zvtest::FakeDisplayServer {
  public:
    std::shared_ptr<ZVDisplayServer> x = ZVDisplayServer::from(ZVPlatformDefaults());
    std::function<void()> afterDamage;

    std::optional<ZVDamage> takeDamage(const ZVRect& r) override {
        auto damage = x->takeDamage(r);
        afterDamage();
        return damage;
    }
    std::vector<ZVDisplayDescription> displays() override { return x->displays(); }
    std::vector<ZVDisplayDescription> cachedDisplays() override { return x->cachedDisplays(); }
    bool readDisplayRect(uint32_t id, const ZVRect& r, uint8_t* to, uint32_t stride, uint32_t rows,
                         uint32_t bytes) override {
        return x->readDisplayRect(id, r, to, stride, rows, bytes);
    }
    bool readRectIntoBuffer(const ZVRect& r, ZVPixelStorage& b) override {
        return x->readRectIntoBuffer(r, b);
    }
};

// A client draws rectangles as fast as it can, at moments that fall anywhere against the
// capture ticks, then another draws four in ticks between the damage question and the read,
// while each frame is compared only where the screen said it changed: every change still
// reaches the capture file, whose last picture is the screen's once drawing stops.
TEST_F(RecorderX11Test, ChangesDrawnAtAnyMomentAllReachTheFile) {
    constexpr int kW = 320, kH = 240, kTop = 1080 - kH;  // the recorder's rectangle in root space
    const uint32_t window = client.showColor(0, kTop, kW, kH, 0x202020);
    auto server = std::make_shared<HookedServer>();
    zvtest::X11TestClient ticker;  // used by the tick only
    std::mt19937 tickRng(9);
    std::atomic<int> hooked{0};  // ticks left that draw between the damage and the read
    server->afterDamage = [&] {
        if (hooked.load() <= 0) return;
        ticker.fill(window, int(tickRng() % kW), int(tickRng() % kH), 16, 16, tickRng());
        ticker.sync();
        --hooked;
    };
    recorder =
        ZVScreenRecorder::initWithRect(ZVMakeRect(0, 0, kW, kH), zvtest::withDisplay(server));
    ASSERT_NE(recorder, nullptr);
    zvtest::TempDir dir;
    const std::string path = dir.file("video.fomix");
    ZVQueue queue;
    auto writer = zvtest::startedWriter(path, queue);
    recorder->setDataDestination(&queue);
    record();
    std::atomic<bool> drawing{true};
    std::thread painter([&] {
        zvtest::X11TestClient c;
        std::mt19937 rng(5);
        for (int n = 0; drawing; ++n) {
            c.fill(window, int(rng() % kW), int(rng() % kH), 1 + int(rng() % 24),
                   1 + int(rng() % 24), rng());
            if (n % 32 == 31) c.sync();  // the server keeps up; the queue stays short
        }
        c.sync();
    });
    std::this_thread::sleep_for(1500ms);
    drawing = false;
    painter.join();
    hooked = 4;  // drawn last, so nothing covers them if they were lost
    ASSERT_TRUE(zvtest::eventually([&] { return hooked.load() == 0; }));
    const int32_t drawn = recorder->capturedFrames();
    ASSERT_TRUE(zvtest::eventually([&] { return recorder->capturedFrames() > drawn + 3; }));
    recorder->stop();
    writer->finalize();
    ASSERT_TRUE(zvtest::eventually([&] { return writer->fileInfo().frames > 0; }));
    auto file = ZVFomixIO::imageAtIndex(uint32_t(writer->writenFrames()), path);
    auto screen = ZVSnap::snapFromRect(ZVMakeRect(0, 0, kW, kH), false);
    ASSERT_TRUE(file && screen);
    int wrong = 0;
    for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x) wrong += file->rgbaAt(x, y) != screen->rgbaAt(x, y);
    EXPECT_EQ(wrong, 0) << "pixels, in " << writer->writenFrames() << " frames";
}

}  // namespace
