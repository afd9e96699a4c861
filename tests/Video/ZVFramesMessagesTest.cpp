// Every message and exception name of the pixel buffer and the movie frame, exactly as
// hosts and users see them. Spellings stay as they are.
#include <gtest/gtest.h>

#include <functional>

#include "Video/ZVVideoAllocation.h"
#include "Zorvan.h"
#include "support/ZVTestSupport.h"

namespace {
struct MessageCase {
    const char* what;
    std::function<void()> trigger;
    std::vector<std::string> lines;  // the log lines, in order
};

ZVCursorEntry opaqueCursor() {
    auto data = std::make_shared<std::vector<uint8_t>>(16, 0xFF);
    ZVCursorInfo info{16, 8, ZVMakeRect(0, 0, 2, 2), {0, 0}, 32, 4, 8};
    return ZVCursorEntry{0, info, data};
}
}  // namespace

TEST(FramesMessages, LogLines) {
    const MessageCase cases[] = {
        {"empty width",
         [] {
             EXPECT_EQ(ZVPixelBuffer::initWithSize({0, 480}), nullptr);
         },
         {"Wrong size for pixel buffer: {0, 480}"}},
        {"negative height",
         [] {
             EXPECT_EQ(ZVMovieFrame::movieFrameWithSize({640, -480}), nullptr);
         },
         {"Wrong size for pixel buffer: {640, -480}"}},
        {"pool of an impossible size",
         [] {
             EXPECT_EQ(ZVPixelBuffer::createPixelBufferWithSize({100000, 100000}), nullptr);
         },
         {"CVPixelBufferPoolCreate() failed with error -6681"}},
        {"no memory for a buffer",
         [] {
             ZVPixelBuffer::releaseSharedPixelBufferPool();
             ZVVideoFailNextAllocations(1);
             EXPECT_EQ(ZVPixelBuffer::createPixelBufferWithSize({640, 480}), nullptr);
         },
         {"CVPixelBufferPoolCreatePixelBuffer() failed with error -6662"}},
        {"no spare row for a flip",
         [] {
             auto b = ZVPixelBuffer::pixelBufferWithSize({4, 2});
             b->clearBuffer();
             b->baseAddress()[0] = 1;
             ZVVideoFailNextAllocations(1);
             b->flipImageData();
             EXPECT_EQ(b->baseAddress()[0], 1) << "pixels unchanged";
         },
         {"ME-8: flipImageData failed with malloc error"}},
        {"no memory for the cursor",
         [] {
             auto f = ZVMovieFrame::movieFrameWithSize({8, 8});
             ZVVideoFailNextAllocations(1);
             f->drawCursor(opaqueCursor(), {4, 4});
         },
         {"ME-7: drawCursor:atPoint: failed with malloc error"}},
        {"cursor of 24 bits",
         [] {
             auto f = ZVMovieFrame::movieFrameWithSize({8, 8});
             ZVCursorEntry c = opaqueCursor();
             c.info.depth = 24;
             f->drawCursor(c, {4, 4});
         },
         {"Unsupported cursor format"}},
    };
    for (const auto& c : cases) {
        zvtest::LogCapture log;
        c.trigger();
        ZVVideoFailNextAllocations(0);
        EXPECT_EQ(log.lines(), c.lines) << c.what;
    }
}

TEST(FramesMessages, FailedBufferRaises) {
    const std::pair<ZVSize, const char*> cases[] = {
        {{100000, 100000}, "Failed to allocate pixel buffer of size: {100000, 100000}"},
        {{0.5f, 480}, "Failed to allocate pixel buffer of size: {0.5, 480}"},
    };
    for (auto& [size, reason] : cases) {
        zvtest::LogCapture log;
        try {
            ZVMovieFrame::movieFrameWithSize(size);
            ADD_FAILURE() << "no exception for " << reason;
        } catch (const ZVException& e) {
            EXPECT_EQ(e.name(), "Could not create pixel storage");
            EXPECT_EQ(e.reason(), reason);
        }
        EXPECT_EQ(log.lines(),
                  std::vector<std::string>{"CVPixelBufferPoolCreate() failed with error -6681"});
    }
}

TEST(FramesMessages, ImageOfABufferWithoutPixelsFailsItsAssertion) {
    auto b = ZVPixelBuffer::pixelBufferWithSize({4, 4});
    b->setPixelBuffer(nullptr);
    zvtest::LogCapture log;
    try {
        b->createRGBImageFromBufferData();
        ADD_FAILURE() << "no exception";
    } catch (const ZVException& e) {
        EXPECT_EQ(e.name(), "ZVInternalInconsistencyException");
        EXPECT_EQ(e.reason(), "CGBitmapContextCreate failure");
    }
    ASSERT_EQ(log.lines().size(), 1u);
    EXPECT_NE(log.lines()[0].find("-[ZVPixelBuffer createRGBImageFromBufferData]"),
              std::string::npos);
    EXPECT_NE(log.lines()[0].find("Video/ZVPixelBuffer"), std::string::npos);
}
