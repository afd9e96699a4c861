// A fixed scripted scene recorded through the screen recorder and the capture-file writer
// into a capture file and a cursor list, compared byte for byte with what the tree wrote
// when the scene was made: a change of layout, pool or hand-off must not move one byte.
// Timestamps are restamped to 1/60 s steps, the only part the wall clock would change.
// The screen says where it changed, so the writer compares only there.
#include <gtest/gtest.h>

#include "Video/ZVRecorderTestSupport.h"
#include "support/ZVStageHarness.h"
#include "support/ZVTestSupport.h"

namespace {
using zvtest::FakeDisplayServer;
using zvtest::ScriptedHost;

constexpr int kFrames = 16;
constexpr float kWidth = 100;  // 400 bytes a row: the pool pads it to 448
constexpr float kHeight = 30;

// A screen whose picture moves a band of colour by eight columns a frame.
class SceneServer : public FakeDisplayServer {
  public:
    bool readDisplayRect(uint32_t, const ZVRect& rect, uint8_t* bottomLeft, uint32_t stride,
                         uint32_t maxRows, uint32_t maxBytesPerRow) override {
        const uint32_t n = frame.load();
        uint32_t rows = std::min<uint32_t>(uint32_t(rect.size.height), maxRows);
        uint32_t cols = std::min<uint32_t>(uint32_t(rect.size.width), maxBytesPerRow / 4);
        for (uint32_t y = 0; y < rows; ++y) {
            for (uint32_t x = 0; x < cols; ++x) {
                uint32_t px = 0xFF000000u | (x * 7 + y * 13);
                if (x / 8 == n % 13) px ^= 0x00A05000u + n * 0x0103u;
                std::memcpy(bottomLeft + size_t(y) * stride + x * 4, &px, 4);
            }
        }
        return true;
    }
    // The band's place before and now, from the second read on: only there is compared,
    // and the file must not change by a byte.
    std::optional<ZVDamage> takeDamage(const ZVRect&) override {
        const uint32_t n = frame.load();
        if (n == 0) return std::nullopt;
        return ZVDamage{{int32_t((n - 1) % 13 * 8), 0, 8, int32_t(kHeight)},
                        {int32_t(n % 13 * 8), 0, 8, int32_t(kHeight)}};
    }
    std::atomic<uint32_t> frame{0};
};

uint64_t fnv1a(const std::string& path) {
    const std::string bytes = zvtest::readText(path);
    uint64_t h = 0xcbf29ce484222325ull;
    for (char c : bytes) h = (h ^ uint8_t(c)) * 0x100000001b3ull;
    return h ^ bytes.size();
}

TEST(CaptureScene, WritesTheSameBytesAsEver) {
    zvtest::TempDir dir;
    auto server = std::make_shared<SceneServer>();
    auto host = std::make_shared<ScriptedHost>();
    ZVSetSharedApplication(host);

    ZVQueue queue;
    zvtest::RecordingDestination restamp(&queue);               // puts each frame on the 60 Hz grid
    restamp.keep = [](const ZVObjectRef&) { return nullptr; };  // the pool reuses frames
    restamp.onAdd = [count = 0](const ZVObjectRef& object) mutable {
        auto frame = std::dynamic_pointer_cast<ZVMovieFrame>(object);
        ZVFrameInfo info = frame->info();
        info.timestamp = count++ / 60.0;
        frame->setInfo(info);
    };
    auto writer = ZVFomixIO::initWithFile(dir.file("video.fomix"), ZVFomixIO::kWriteMode);
    writer->setDataSource(&queue);
    std::atomic<bool> stopped{false};
    auto& center = ZVNotificationCenter::defaultCenter();
    center.addObserver(&stopped, ZVFomixIODidStopNotification, writer.get(),
                       [&](const ZVNotification&) { stopped = true; });
    writer->start();

    auto recorder = ZVScreenRecorder::initWithRect(ZVMakeRect(3, 5, kWidth, kHeight),
                                                   zvtest::withDisplay(server));
    ASSERT_NE(recorder, nullptr);
    recorder->setDataDestination(&restamp);
    recorder->setSuspended(false);
    for (int n = 0; n < kFrames; ++n) {
        server->frame = n;
        if (n == 0) server->showCursor(1, 4, 4, 0xFF2040A0);
        if (n == 5) server->showCursor(2, 3, 5, 0x80FFFFFF);
        if (n == 8) server->showCursor(3, 4, 4, 0xFF2040A0);   // the first image again
        if (n == 11) server->showCursor(4, 2, 2, 0x00000000);  // hidden
        if (n == 13) server->showCursor(5, 3, 5, 0x80FFFFFF);
        server->setMouse(ZVPoint{float(10 + 3 * n), float(40 - 2 * n)});
        host->keyCode = n % 4 == 1 ? std::optional<int64_t>(n) : std::nullopt;
        host->flags = uint32_t(n % 3) << 17;
        host->buttons = n % 5;
        host->repeating = n == 7;
        if (n % 6 == 2) {
            ZVKeyStroke k{0x20000u, 12 + n};
            std::vector<uint8_t> bytes(sizeof k);
            std::memcpy(bytes.data(), &k, sizeof k);
            host->keyStrokes = bytes;
        } else {
            host->keyStrokes.reset();
        }
        recorder->setZlibCompression(n >= 10);
        ASSERT_EQ(recorder->displayLinkCallback(), 0);
    }
    writer->finalize();
    ASSERT_TRUE(zvtest::runMainUntil([&] { return stopped.load(); }));
    center.removeObserver(&stopped);
    std::string error;
    ASSERT_TRUE(
        ZVCursorListFile::write(dir.file("cursors.dat"), recorder->capturedCursors(), &error))
        << error;
    recorder.reset();
    ZVSetSharedApplication(nullptr);

    EXPECT_EQ(writer->writenFrames(), kFrames);
    EXPECT_EQ(fnv1a(dir.file("video.fomix")), 0x09e0f737184d8093ull);
    EXPECT_EQ(fnv1a(dir.file("cursors.dat")), 0x9d99b964c5f7ce20ull);
}

}  // namespace
