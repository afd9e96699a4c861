// The screen recorder's deterministic corners, on a fake display server: the rectangle
// rule, what each host input operation (or its absence) puts into a frame, the cursor
// list's identity by image bytes, pacing, and counters against timestamps across runs.
// Ticks are called directly on this thread where the order matters.
#include <gtest/gtest.h>

#include <cstring>

#include "Video/ZVDisplayLink.h"
#include "Video/ZVScreenRecorder.h"
#include "ZVRecorderTestSupport.h"
#include "support/ZVTestSupport.h"

namespace {
using namespace std::chrono_literals;
using zvtest::FakeDisplayServer;
using zvtest::RecordingDestination;
using zvtest::ScriptedHost;

class RecorderUnitTest : public ::testing::Test {
  protected:
    void SetUp() override {
        server = std::make_shared<FakeDisplayServer>();
        ZVSetSharedApplication(nullptr);
        recorder = ZVScreenRecorder::initWithRect(ZVMakeRect(10, 20, 320, 240),
                                                  zvtest::withDisplay(server));
        ASSERT_NE(recorder, nullptr);
        log.keep = zvtest::keepFrameRecord;
        recorder->setDataDestination(&log);
        recorder->setSuspended(false);
    }
    void TearDown() override {
        recorder.reset();
        ZVSetSharedApplication(nullptr);
    }
    ZVFrameInfo tick() {
        EXPECT_EQ(recorder->displayLinkCallback(), 0);
        return zvtest::frameRecords(log).back().info;
    }

    std::shared_ptr<FakeDisplayServer> server;
    RecordingDestination log;
    std::shared_ptr<ZVScreenRecorder> recorder;
};

TEST(RecorderInit, FloorsTheRectangleAndRefusesAnEmptyOne) {
    auto server = std::make_shared<FakeDisplayServer>();
    const ZVPlatformServices services = zvtest::withDisplay(server);
    auto r = ZVScreenRecorder::initWithRect(ZVMakeRect(10.7f, 20.2f, 640.9f, 480.5f), services);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->captureRect(), ZVMakeRect(10, 20, 640, 480));
    EXPECT_TRUE(r->isSuspended());
    EXPECT_FALSE(r->isRunning());
    EXPECT_EQ(ZVScreenRecorder::initWithRect(ZVMakeRect(0, 0, 0.6f, 480), services), nullptr);
    EXPECT_EQ(ZVScreenRecorder::initWithRect(ZVMakeRect(0, 0, 640, -3), services), nullptr);
    // An empty rectangle given later is ignored.
    r->startSetRect();
    r->setRect(ZVMakeRect(5, 5, 0.9f, 100));
    r->endSetRect();
    EXPECT_EQ(r->captureRect(), ZVMakeRect(10, 20, 640, 480));
}

TEST_F(RecorderUnitTest, AHostWithoutInputOperationsGivesTheDefaults) {
    ZVFrameInfo info = tick();
    EXPECT_EQ(info.keyCode, -1);
    EXPECT_EQ(info.flags, 0u);
    EXPECT_EQ(info.frameFlags, 0);
    EXPECT_EQ(info.blocks, 0u);
    EXPECT_EQ(info.dataSize, 0u);
    EXPECT_EQ(info.dimensions, (ZVSize{320, 240}));
    EXPECT_TRUE(zvtest::frameRecords(log).back().keyStrokes.empty());

    recorder->setZlibCompression(true);
    EXPECT_EQ(tick().frameFlags, 0xA0);
    server->zoomed = true;
    EXPECT_EQ(tick().frameFlags, 0xE0);
    // An installed host that implements nothing changes nothing.
    ZVSetSharedApplication(std::make_shared<ZVHostApplication>());
    recorder->setZlibCompression(false);
    server->zoomed = false;
    ZVFrameInfo plain = tick();
    EXPECT_EQ(plain.frameFlags, 0);
    EXPECT_EQ(plain.keyCode, -1);
}

TEST_F(RecorderUnitTest, EachHostOperationFillsItsPartOfTheFrame) {
    auto host = std::make_shared<ScriptedHost>();
    ZVSetSharedApplication(host);
    host->keyCode = 0x12345;  // only the low 16 bits are kept
    host->flags = kSRCocoaCommandKeyMask | kSRCocoaShiftKeyMask;
    host->repeating = true;
    host->buttons = 0x13;  // bit 0x10 is not a button bit
    host->keyStrokes = std::vector<uint8_t>{};
    ZVFrameInfo info = tick();
    EXPECT_EQ(info.keyCode, 0x2345);
    EXPECT_EQ(info.flags, kSRCocoaCommandKeyMask | kSRCocoaShiftKeyMask);
    // Merely answering the key-stroke operation marks the frame, even with nothing typed.
    EXPECT_EQ(info.frameFlags, 0x10 | 0x20 | 0x1 | 0x2);
    EXPECT_TRUE(zvtest::frameRecords(log).back().keyStrokes.empty());

    ZVKeyStroke strokes[2] = {{kSRCocoaCommandKeyMask, 0x00}, {0, 0x0B}};
    host->keyStrokes = std::vector<uint8_t>(reinterpret_cast<uint8_t*>(strokes),
                                            reinterpret_cast<uint8_t*>(strokes) + sizeof strokes);
    host->repeating = false;
    host->buttons = kZVMouseDoubleClick | kZVMouseOtherButton;
    info = tick();
    EXPECT_EQ(info.frameFlags, 0x20 | 0x8 | 0x4);
    EXPECT_EQ(zvtest::frameRecords(log).back().keyStrokes, *host->keyStrokes);
}

TEST_F(RecorderUnitTest, CursorsAreListedOnceByTheirBytesAndHiddenOnesAreNone) {
    server->setMouse({100, 50});
    server->showCursor(1, 16, 16, 0xFF000000);  // black
    EXPECT_EQ(tick().mousePointerIndex, 0u);
    EXPECT_EQ(tick().mousePointerIndex, 0u);    // same seed: not fetched again
    server->showCursor(2, 24, 24, 0xFFFFFFFF);  // white, bigger
    EXPECT_EQ(tick().mousePointerIndex, 1u);
    server->showCursor(3, 16, 16, 0xFF000000);  // the first image under a new seed
    EXPECT_EQ(tick().mousePointerIndex, 0u);
    server->showCursor(4, 16, 16, 0x00000000);  // no visible pixel
    EXPECT_EQ(tick().mousePointerIndex, kZVNoCursorIndex);
    server->showCursor(5, 16, 16, 0xFF0000FF);  // same size as the first, other bytes
    EXPECT_EQ(tick().mousePointerIndex, 2u);

    auto cursors = recorder->capturedCursors();
    ASSERT_EQ(cursors.size(), 3u);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(cursors[size_t(i)].id, i);
    EXPECT_EQ(cursors[0].info.size, 16 * 16 * 4);
    EXPECT_EQ(cursors[1].info.size, 24 * 24 * 4);
    EXPECT_EQ(cursors[1].info.hotSpot.x, 1);
    EXPECT_EQ(cursors[1].info.hotSpot.y, 2);
    ASSERT_NE(cursors[1].data, nullptr);
    EXPECT_EQ(cursors[1].data->size(), size_t(24 * 24 * 4));
    // The pointer is measured from the rectangle's bottom-left corner, not clamped.
    EXPECT_EQ(zvtest::frameRecords(log).back().info.mousePointerLocation, (ZVPoint{90, 30}));
    server->setMouse({0, 0});
    EXPECT_EQ(tick().mousePointerLocation, (ZVPoint{-10, -20}));
}

TEST_F(RecorderUnitTest, RowPaddingOfARecycledBufferIsCleared) {
    // 100 pixels take 400 of the row's 448 bytes; a frame of that size went back to the
    // pool with every byte set.
    recorder->startSetRect();
    recorder->setRect(ZVMakeRect(10, 20, 100, 10));
    recorder->endSetRect();
    std::memset(ZVMovieFrame::movieFrameWithSize({100, 10})->baseAddress(), 0xAB, 448 * 10);
    log.keep = nullptr;
    tick();
    auto frame = std::dynamic_pointer_cast<ZVMovieFrame>(log.objects().back());
    ASSERT_EQ(frame->bytesPerRow(), 448);
    EXPECT_EQ(frame->baseAddress()[447], 0);
}

TEST(RecorderPacing, SleepsByTheDifferenceOfTheFramePeriodsOnlyAboveSixtyPerSecond) {
    EXPECT_EQ(ZVScreenRecorder::pacingDelay(10, 0.1, 60), 6666);
    EXPECT_EQ(ZVScreenRecorder::pacingDelay(60, 1.0, 60), 0);
    EXPECT_EQ(ZVScreenRecorder::pacingDelay(30, 1.0, 60), 0);
    EXPECT_EQ(ZVScreenRecorder::pacingDelay(0, 0, 60), 0);
    // Frames that all share time 0 ran infinitely fast: a whole frame period.
    EXPECT_EQ(ZVScreenRecorder::pacingDelay(1, 0, 60), 16666);
}

TEST_F(RecorderUnitTest, EachStartRestartsTheCountersButNotTheTimeLine) {
    recorder->start();
    ASSERT_TRUE(log.waitForMore(5));
    recorder->stop();
    int32_t firstRun = recorder->capturedFrames();
    double lastTime = zvtest::frameRecords(log).back().info.timestamp;
    EXPECT_EQ(size_t(firstRun), log.count());
    EXPECT_DOUBLE_EQ(recorder->captureDuration(), lastTime);

    std::this_thread::sleep_for(200ms);
    size_t before = log.count();
    recorder->start();
    ASSERT_TRUE(log.waitForMore(3));
    recorder->stop();
    EXPECT_EQ(size_t(recorder->capturedFrames()), log.count() - before);
    double resumed = zvtest::frameRecords(log)[before].info.timestamp;
    EXPECT_GT(resumed, lastTime + 0.15);  // stopped time counts: only pauses are left out
}

TEST_F(RecorderUnitTest, NotificationsReachTheDelegateOnTheMainThread) {
    struct Delegate : ZVScreenRecorderDelegateInformalProtocol {
        int willStart = 0, didStart = 0, captured = 0, didStop = 0;
        bool allOnMain = true;
        void note(int& n) {
            ++n;
            allOnMain = allOnMain && ZVIsMainThread();
        }
        void ZVScreenRecorderWillStart(ZVScreenRecorder*) override { note(willStart); }
        void ZVScreenRecorderDidStart(ZVScreenRecorder*) override { note(didStart); }
        void ZVScreenRecorderCapturedFrame(ZVScreenRecorder*) override { note(captured); }
        void ZVScreenRecorderDidStop(ZVScreenRecorder*) override { note(didStop); }
    } delegate;
    recorder->setDelegate(&delegate);
    recorder->start();
    recorder->start();  // running: ignored
    ASSERT_TRUE(log.waitForMore(3));
    recorder->stop();
    recorder->stop();  // not running: ignored
    recorder->start();
    ASSERT_TRUE(log.waitForMore(2));
    recorder->stop();
    ASSERT_TRUE(zvtest::runMainUntil([&] { return delegate.didStop == 2; }));
    EXPECT_GE(delegate.captured, 1);  // folded: see ZVMainThreadHandOffTest
    EXPECT_EQ(delegate.willStart, 2);
    EXPECT_EQ(delegate.didStart, 1);  // a later run continues the first one's time line
    EXPECT_TRUE(delegate.allOnMain);
    recorder->setDelegate(nullptr);
}
}  // namespace
