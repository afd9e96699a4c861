// Every message of the video subsystem (pixel buffers, movie frames, the screen recorder),
// exactly as hosts and users see it, in one table: each row makes the failure happen and
// names the log line, alert or exception it must leave. Spellings stay as they are.
#include <gtest/gtest.h>
#include <sys/fsuid.h>
#include <sys/stat.h>

#include <chrono>
#include <functional>
#include <regex>
#include <thread>

#include "Platform/Evdev/ZVEvdevTestDevice.h"
#include "Video/ZVScreenRecorder.h"
#include "Video/ZVVideoAllocation.h"
#include "ZorvanInternal.h"
#include "support/ZVFakeDisplayServer.h"
#include "support/ZVStageHarness.h"
#include "support/ZVTestSupport.h"

namespace {

using zvtest::FakeDisplayServer;

ZVCursorEntry opaqueCursor() {
    auto data = std::make_shared<std::vector<uint8_t>>(16, 0xFF);
    ZVCursorInfo info{16, 8, ZVMakeRect(0, 0, 2, 2), {0, 0}, 32, 4, 8};
    return ZVCursorEntry{0, info, data};
}

ZVPlatformServices gServices;  // with the fake display of the row being run

std::shared_ptr<ZVScreenRecorder> activeRecorder(ZVRect rect = ZVMakeRect(0, 0, 64, 48)) {
    auto r = ZVScreenRecorder::initWithRect(rect, gServices);
    if (r) r->setSuspended(false);
    return r;
}

struct Row {
    const char* what;
    std::function<void(FakeDisplayServer&)> trigger;
    std::vector<std::string> log;  // the log lines, in order (all of them)
    std::string exception = "";    // "name: reason" of the exception, or empty
    std::string alert = "";        // "title: message" of the one alert, or empty
};

}  // namespace

TEST(VideoMessages, EachFailureLeavesItsExactText) {
    const Row rows[] = {
        {"empty width",
         [](FakeDisplayServer&) {
             EXPECT_EQ(ZVPixelBuffer::initWithSize({0, 480}), nullptr);
         },
         {"Wrong size for pixel buffer: {0, 480}"}},
        {"negative height",
         [](FakeDisplayServer&) {
             EXPECT_EQ(ZVMovieFrame::movieFrameWithSize({640, -480}), nullptr);
         },
         {"Wrong size for pixel buffer: {640, -480}"}},
        {"pool of an impossible size",
         [](FakeDisplayServer&) {
             EXPECT_EQ(ZVPixelBuffer::createPixelBufferWithSize({100000, 100000}), nullptr);
         },
         {"CVPixelBufferPoolCreate() failed with error -6681"}},
        {"no memory for a buffer",
         [](FakeDisplayServer&) {
             ZVPixelBuffer::releaseSharedPixelBufferPool();
             ZVVideoFailNextAllocations(1);
             EXPECT_EQ(ZVPixelBuffer::createPixelBufferWithSize({640, 480}), nullptr);
         },
         {"CVPixelBufferPoolCreatePixelBuffer() failed with error -6662"}},
        {"no spare row for a flip",
         [](FakeDisplayServer&) {
             auto b = ZVPixelBuffer::pixelBufferWithSize({4, 2});
             b->clearBuffer();
             b->baseAddress()[0] = 1;
             ZVVideoFailNextAllocations(1);
             b->flipImageData();
             EXPECT_EQ(b->baseAddress()[0], 1) << "pixels unchanged";
         },
         {"ME-8: flipImageData failed with malloc error"}},
        {"no memory for the cursor",
         [](FakeDisplayServer&) {
             auto f = ZVMovieFrame::movieFrameWithSize({8, 8});
             ZVVideoFailNextAllocations(1);
             f->drawCursor(opaqueCursor(), {4, 4});
         },
         {"ME-7: drawCursor:atPoint: failed with malloc error"}},
        {"cursor of 24 bits",
         [](FakeDisplayServer&) {
             auto f = ZVMovieFrame::movieFrameWithSize({8, 8});
             ZVCursorEntry c = opaqueCursor();
             c.info.depth = 24;
             f->drawCursor(c, {4, 4});
         },
         {"Unsupported cursor format"}},
        {"frame of an impossible size",
         [](FakeDisplayServer&) {
             ZVMovieFrame::movieFrameWithSize({100000, 100000});
         },
         {"CVPixelBufferPoolCreate() failed with error -6681"},
         "Could not create pixel storage: Failed to allocate pixel buffer of size: {100000, "
         "100000}"},
        {"frame of a fractional size",
         [](FakeDisplayServer&) {
             ZVMovieFrame::movieFrameWithSize({0.5f, 480});
         },
         {"CVPixelBufferPoolCreate() failed with error -6681"},
         "Could not create pixel storage: Failed to allocate pixel buffer of size: {0.5, 480}"},
        {"no display link",
         [](FakeDisplayServer& server) {
             server.setDisplays({});
             EXPECT_EQ(ZVScreenRecorder::initWithRect(ZVMakeRect(0, 0, 64, 48), gServices),
                       nullptr);
         },
         {"No display to follow: the X server shows no monitor",
          "Failed to create display link (Error: -6670)"}},
        {"no frame buffer",
         [](FakeDisplayServer&) {
             auto r = activeRecorder(ZVMakeRect(0, 0, 77, 33));  // a size of its own
             ASSERT_NE(r, nullptr);
             ZVVideoFailNextAllocations(100);
             EXPECT_EQ(r->displayLinkCallback(), -6660);
             ZVVideoFailNextAllocations(0);
             EXPECT_EQ(r->capturedFrames(), 0);
         },
         {"CVPixelBufferPoolCreatePixelBuffer() failed with error -6662"},
         "",
         "Failed to create frame buffer: "},
        {"no memory for the recorded cursor",
         [](FakeDisplayServer& server) {
             zvtest::RecordingDestination frames;
             frames.keep = [](const ZVObjectRef&) { return nullptr; };  // the pool reuses it
             auto r = activeRecorder();
             ASSERT_NE(r, nullptr);
             r->setDataDestination(&frames);
             EXPECT_EQ(r->displayLinkCallback(), 0);  // the pool now has a buffer to reuse
             server.showCursor(7, 32, 32, 0xFF000000);
             ZVVideoFailNextAllocations(1);
             EXPECT_EQ(r->displayLinkCallback(), 0);
             ZVVideoFailNextAllocations(0);
             // The frame is still delivered and counted, with no cursor listed.
             EXPECT_EQ(frames.count(), 2u);
             EXPECT_EQ(r->capturedFrames(), 2);
             EXPECT_TRUE(r->capturedCursors().empty());
         },
         {"ME-9: displayLinkCallback failed with malloc error"}},
        {"display server lost",
         [](FakeDisplayServer& server) {
             zvtest::RecordingDestination frames;
             auto r = activeRecorder();
             ASSERT_NE(r, nullptr);
             r->setDataDestination(&frames);
             server.lose("the connection to the X display \":9\" broke");
             EXPECT_EQ(r->displayLinkCallback(), -6660);
             // That tick's read is no picture: nothing is handed on, and the recorder
             // says why it stopped.
             EXPECT_EQ(frames.count(), 0u);
             EXPECT_EQ(r->failureReason(),
                       "the screen can no longer be read: the connection to the X display "
                       "\":9\" broke");
         },
         {"Screen recorder: the screen can no longer be read: the connection to the X display "
          "\":9\" broke"}},
        {"recorder stalled",
         [](FakeDisplayServer& server) {
             zvtest::RecordingDestination frames;
             auto r = activeRecorder();
             ASSERT_NE(r, nullptr);
             r->setDataDestination(&frames);
             EXPECT_EQ(r->displayLinkCallback(), 0);
             std::this_thread::sleep_for(std::chrono::milliseconds(800));
             EXPECT_EQ(r->displayLinkCallback(), 0);
             EXPECT_EQ(r->stalls(), 1);
             EXPECT_NEAR(r->missedFrames(), 47, 6);  // 0.8 s at 60 Hz, less the tick ending it
             // A freeze in the middle of a tick is a stall too, seen by the next tick.
             server.freezeNextRead(800);
             EXPECT_EQ(r->displayLinkCallback(), 0);
             EXPECT_EQ(r->stalls(), 1);
             EXPECT_EQ(r->displayLinkCallback(), 0);
             EXPECT_EQ(r->stalls(), 2);
         },
         {"Screen recorder: stalled for %.3f s at %.3f s of the recording (the process was "
          "stopped or the machine froze); %d frames missed",
          "Screen recorder: stalled for %.3f s at %.3f s of the recording (the process was "
          "stopped or the machine froze); %d frames missed"}},
        {"no folder of input devices",
         [](FakeDisplayServer&) {
             EXPECT_EQ(ZVEvdevHostInput::create(zvtest::folderOptions("/nonexistent/input")),
                       nullptr);
         },
         {"keys and clicks are not recorded: cannot watch /nonexistent/input for input devices "
          "(No such file or directory)"}},
        {"input devices this user may not read",
         [](FakeDisplayServer&) {
             zvtest::TempDir dir;
             chmod(dir.path().c_str(), 0755);
             ASSERT_EQ(mkfifo(dir.file("event0").c_str(), 0), 0);
             // As an unprivileged user: root's file access ignores the modes.
             const uid_t before = setfsuid(65534);
             EXPECT_EQ(ZVEvdevHostInput::create(zvtest::folderOptions(dir.path())), nullptr);
             setfsuid(before);
         },
         {"keys and clicks are not recorded: this user cannot read TMP/event* (add yourself to "
          "the 'input' group: sudo usermod -aG input $USER, then log in again)"}},
        {"picture of a buffer without pixels",
         [](FakeDisplayServer&) {
             auto b = ZVPixelBuffer::pixelBufferWithSize({4, 4});
             b->setPixelBuffer(nullptr);
             b->createRGBImageFromBufferData();
             ADD_FAILURE() << "no exception";
         },
         {"*** Assertion failure in -[ZVPixelBuffer createRGBImageFromBufferData] (%p), "
          "Video/ZVPixelBuffer: CGBitmapContextCreate failure"},
         "ZVInternalInconsistencyException: CGBitmapContextCreate failure"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        auto server = std::make_shared<FakeDisplayServer>();
        gServices = zvtest::withDisplay(server);
        zvtest::LogCapture log;
        zvtest::AlertCapture alerts;
        std::string thrown;
        try {
            row.trigger(*server);
        } catch (const ZVException& e) {
            thrown = e.name() + ": " + e.reason();
        }
        ZVVideoFailNextAllocations(0);
        // An object's address reads as "%p".
        std::vector<std::string> lines = log.lines();
        for (auto& line : lines) line = std::regex_replace(line, std::regex("0x[0-9a-f]+"), "%p");
        // A test's temporary folder reads as "TMP".
        for (auto& line : lines)
            line = std::regex_replace(line, std::regex("/[^ ]*zvtest-[A-Za-z0-9]{6}"), "TMP");
        // Measured times and counts read as their formats.
        for (auto& line : lines)
            line = std::regex_replace(
                std::regex_replace(line, std::regex("[0-9]+\\.[0-9]{3} s"), "%.3f s"),
                std::regex("; [0-9]+ frames missed"), "; %d frames missed");
        EXPECT_EQ(lines, row.log);
        EXPECT_EQ(thrown, row.exception);
        auto shown = alerts.alerts();
        EXPECT_EQ(shown.empty() ? "" : shown[0].first + ": " + shown[0].second, row.alert);
        EXPECT_LE(shown.size(), 1u);
        gServices = {};
    }
}
