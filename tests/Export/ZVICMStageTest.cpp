// The compressor as an export stage: frames from its source are read upwards, handed to a real
// compression session and come out wrapped, with their time stamps, into a destination
// that holds the session back; finalize delivers every frame before did-stop.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>

#include "Export/ZVICM.h"
#include "Media/ZVCodecSettings.h"
#include "Media/ZVEncodedMovieFrame.h"
#include "Media/ZVEncodingPreset.h"
#include "Video/ZVPixelTestSupport.h"
#include "ZorvanInternal.h"
#include "support/ZVStageHarness.h"
#include "support/ZVTestSupport.h"

namespace {
using zvtest::Pixel;
constexpr Pixel kRed{0, 0, 255, 255}, kGrey{128, 128, 128, 255};

std::shared_ptr<ZVEncodingPreset> pngPreset(double framesPerSecond) {
    ZVCodecSettings settings(ZVCodecSettingsKind::video);
    settings.setCodecType(kZVVideoCodecType_PNG);
    settings.setFrameRate(ZVDoubleToFixed(framesPerSecond));
    auto preset = ZVEncodingPreset::initWithName("test");
    preset->setVideoSettings(settings.save());
    return preset;
}

// A grey frame whose first memory row (the picture's bottom, as the reader gives it) is red.
std::shared_ptr<ZVMovieFrame> bottomUpFrame(double t, int w = 64, int h = 48) {
    ZVFrameInfo info{};
    info.dimensions = {float(w), float(h)};
    info.mousePointerIndex = kZVNoCursorIndex;
    info.keyCode = -1;
    info.timestamp = t;
    auto f = ZVMovieFrame::movieFrameWithInfo(info);
    for (int row = 0; row < h; ++row)
        for (int x = 0; x < w; ++x)
            std::memcpy(f->baseAddress() + row * f->bytesPerRow() + 4 * x,
                        (row == 0 ? kRed : kGrey).data(), 4);
    return f;
}

struct Watcher : ZVICMDelegateInformalProtocol {
    std::atomic<bool> stopped{false};
    std::function<void(ZVMovieFrame&)> onFrame;  // worker thread
    void ZVICMWillEncodeFrame(ZVICM*, ZVMovieFrame* f) override {
        if (onFrame) onFrame(*f);
    }
    void ZVICMDidStop(ZVICM*) override { stopped = true; }
};
}  // namespace

TEST(ZVICM, FinalizeDeliversEveryFrameBeforeDidStop) {
    auto icm = ZVICM::initWithPreset(*pngPreset(25), {64, 48});
    ASSERT_TRUE(icm);

    zvtest::ScriptedSource source;
    zvtest::RecordingDestination destination;
    Watcher watcher;
    constexpr int kFrames = 20;
    for (int i = 0; i < kFrames; ++i) source.push(bottomUpFrame(i * 0.04));
    icm->setDataSource(&source);
    icm->setDataDestination(&destination);
    icm->setDelegate(&watcher);
    std::atomic<int> deliveredAtStop{-1};
    auto& center = ZVNotificationCenter::defaultCenter();
    center.addObserver(&deliveredAtStop, ZVICMDidStopNotification, icm.get(),
                       [&](const ZVNotification&) { deliveredAtStop = int(destination.count()); });

    // The destination refuses at first: the session's output waits for it.
    destination.setAccepting(false);
    icm->start();
    icm->finalize();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(destination.count(), 0u);
    EXPECT_EQ(deliveredAtStop, -1) << "did-stop waits for the held-back frames";
    destination.setAccepting(true);
    // The observer runs on the worker, the delegate later on the main thread: wait for both.
    ASSERT_TRUE(zvtest::runMainUntil([&] { return watcher.stopped && deliveredAtStop != -1; }));
    center.removeObserver(&deliveredAtStop);

    EXPECT_EQ(deliveredAtStop, kFrames);
    auto objects = destination.objects();
    ASSERT_EQ(objects.size(), size_t(kFrames));
    for (int i = 0; i < kFrames; ++i) {
        auto encoded = std::dynamic_pointer_cast<ZVEncodedMovieFrame>(objects[i]);
        ASSERT_TRUE(encoded);
        EXPECT_EQ(encoded->encodedFrame()->displayTimeStamp(), i * 100) << "frame " << i;
    }
    // What was compressed is the picture upright (rows read upwards): its red row at the
    // bottom.
    const auto& first = std::dynamic_pointer_cast<ZVEncodedMovieFrame>(objects[0])->encodedFrame();
    auto picture = ZVImage::readPNGData(first->data(), size_t(first->dataSize()));
    ASSERT_TRUE(picture);
    EXPECT_EQ(picture->rgbaAt(5, 47), (std::array<uint8_t, 4>{255, 0, 0, 255}));
    EXPECT_EQ(picture->rgbaAt(5, 0), (std::array<uint8_t, 4>{128, 128, 128, 255}));
    EXPECT_FALSE(icm->isRunning());
}

TEST(ZVICM, ThePresetChoosesTheOverlays) {
    auto preset = pngPreset(25);
    preset->setIncludesCursorTrack(false);  // no cursor, no mark; the key strip stays
    auto icm = ZVICM::initWithPreset(*preset, {320, 120});
    ASSERT_TRUE(icm);
    auto frame = bottomUpFrame(0.5, 320, 120);
    ZVFrameInfo info = frame->info();
    info.frameFlags = kZVFrameLeftButton;
    info.mousePointerLocation = {200, 110};
    info.mousePointerIndex = 0;
    info.keyCode = 122;
    frame->setInfo(info);
    zvtest::ScriptedSource source;
    source.push(frame);
    Watcher watcher;
    std::atomic<bool> strip{false}, mark{true};
    // The frame as it came in, bottom row first: picture row r is buffer row 119 - r.
    watcher.onFrame = [&](ZVMovieFrame& f) {
        strip = zvtest::pixelAt(f, 310, 119 - (120 - 50))[1] < kGrey[1] - 20;
        mark = zvtest::pixelAt(f, 190, 119 - (120 - 110 + 5)) != kGrey;
    };
    icm->setDataSource(&source);
    icm->setDelegate(&watcher);
    icm->start();
    icm->finalize();
    ASSERT_TRUE(zvtest::runMainUntil([&] { return watcher.stopped.load(); }));
    EXPECT_TRUE(strip);
    EXPECT_FALSE(mark);
}

TEST(ZVICMMessages, LogLines) {
    struct Case {
        const char* what;
        std::function<std::shared_ptr<ZVEncodingPreset>()> preset;
        std::vector<std::string> lines;
    } cases[] = {
        {"damaged video settings",
         [] {
             auto p = ZVEncodingPreset::initWithName("damaged");
             p->setVideoSettings(ZVSettingsHandle{'b', 'p', 'l', 'i', 's', 't'});
             return p;
         },
         {"SCCopyCompressionSessionOptions() failed with error -8962",
          "Codec settings are damaged: not a binary property list"}},
        {"an empty output size",
         [] {
             auto p = pngPreset(25);
             p->setVideoScale(0);
             return p;
         },
         {"Cannot encode 0x0 pictures at time scale 2500",
          "ICMCompressionSessionCreate() failed with error -50"}},
    };
    for (const auto& c : cases) {
        zvtest::LogCapture log;
        EXPECT_EQ(ZVICM::initWithPreset(*c.preset(), {64, 48}), nullptr) << c.what;
        EXPECT_EQ(log.lines(), c.lines) << c.what;
    }
}
