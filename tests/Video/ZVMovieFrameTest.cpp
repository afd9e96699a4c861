// The movie frame: its record, key strokes and their text, cursor drawing, copies.
#include <gtest/gtest.h>

#include <cstring>

#include "Video/ZVPixelTestSupport.h"
#include "Video/ZVVideoAllocation.h"
#include "ZorvanInternal.h"
#include "support/ZVCursorSamples.h"
#include "support/ZVTestSupport.h"

namespace {
using zvtest::bytesOf;
using zvtest::makeCursor;
using zvtest::otherByteOrder;
using zvtest::Pixel;
constexpr auto at = zvtest::pixelAt;

std::vector<uint8_t> strokes(std::initializer_list<ZVKeyStroke> entries) {
    std::vector<uint8_t> bytes(entries.size() * sizeof(ZVKeyStroke));
    if (!bytes.empty()) std::memcpy(bytes.data(), std::data(entries), bytes.size());
    return bytes;
}

std::shared_ptr<ZVMovieFrame> clearedFrame(float w, float h) {
    auto f = ZVMovieFrame::movieFrameWithSize({w, h});
    f->clearBuffer();
    return f;
}
}  // namespace

TEST(ZVFrameInfo, RecordBytesAreTheFileLayout) {
    ZVFrameInfo info{};
    info.blocks = 0x01020304;
    info.dataSize = 0x05060708;
    info.mousePointerLocation = {1.0f, 2.0f};
    info.dimensions = {640, 480};
    info.mousePointerIndex = kZVNoCursorIndex;
    info.timestamp = 1.5;
    info.keyCode = -1;
    info.frameFlags = kZVFrameHasKeyStrokes | kZVFrameCompress;
    info.flags = 0x100000;
    const uint8_t expected[44] = {
        0x04, 0x03, 0x02, 0x01, 0x08, 0x07, 0x06, 0x05,  // blocks, dataSize
        0x00, 0x00, 0x80, 0x3F, 0x00, 0x00, 0x00, 0x40,  // 1.0f, 2.0f
        0x00, 0x00, 0x20, 0x44, 0x00, 0x00, 0xF0, 0x43,  // 640.0f, 480.0f
        0xFF, 0xFF, 0xFF, 0x7F,                          // no cursor
        0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xF8, 0x3F,  // 1.5 at byte 28
        0xFF, 0xFF, 0xA0, 0x00,                          // keyCode -1, flags 0xA0
        0x00, 0x00, 0x10, 0x00,                          // Command
    };
    EXPECT_EQ(0, std::memcmp(&info, expected, 44));
}

TEST(ZVMovieFrame, FrameWithSizeHasAZeroRecordButItsDimensions) {
    auto f = ZVMovieFrame::movieFrameWithSize({320, 200});
    ASSERT_TRUE(f);
    ZVFrameInfo expected{};
    expected.dimensions = {320, 200};
    const ZVFrameInfo info = f->info();
    EXPECT_EQ(0, std::memcmp(&info, &expected, sizeof info));
    EXPECT_EQ(f->currentCursorData(), nullptr);
    // A record of another size does not resize the pixels; a frame made from one has its size.
    expected.dimensions = {16, 8};
    f->setInfo(expected);
    EXPECT_EQ(f->pixelsWidth(), 320);
    EXPECT_EQ(ZVMovieFrame::movieFrameWithInfo(expected)->pixelsHeight(), 8);
}

TEST(ZVMovieFrame, KeyTextOfModifiedAndPlainKeys) {
    const uint32_t command = 0x100000, shift = 0x20000, control = 0x40000;
    const uint32_t capsLock = 0x10000, function = 0x800000;
    // Keys of the fixed name table, so the text does not depend on the keyboard layout.
    const std::pair<std::vector<uint8_t>, std::string> cases[] = {
        {strokes({{command, 122}, {0, 36}}), " \u2318F1 \u21A9"},
        {strokes({{0, 122}, {0, 120}}), "F1F2"},
        {strokes({{0, 122}, {command, -1}, {0, 120}}), "F1F2"},
        {strokes({{capsLock, 122}, {0, 48}}), "F1\u21E5"},
        {strokes({{function | capsLock, 99}}), "F3"},
        {strokes({{shift | control, 49}, {command | shift, 53}}),
         " \u2303\u21E7Space  \u21E7\u2318\u238B "},
        {strokes({}), ""},
    };
    for (const auto& [bytes, text] : cases) {
        auto f = ZVMovieFrame::movieFrameWithSize({8, 8});
        f->setKeyStrokes(bytes);
        EXPECT_EQ(f->keyStrokesString(), text);
    }
}

TEST(ZVMovieFrame, CursorTopLeftLandsAtHotSpotOffsetInMemoryRows) {
    auto f = clearedFrame(640, 480);
    f->drawCursor(makeCursor(8, 8, {4, 6}), {100, 50});
    // x = 100 - 4, memory row = 480 - 50 - 6.
    EXPECT_EQ(at(*f, 96, 424), (Pixel{0, 0, 200, 255}));
    EXPECT_EQ(at(*f, 103, 431), (Pixel{7, 7, 200, 255}));
    EXPECT_EQ(at(*f, 95, 424), (Pixel{0, 0, 0, 0}));
    EXPECT_EQ(at(*f, 96, 423), (Pixel{0, 0, 0, 0}));
    EXPECT_EQ(at(*f, 104, 431), (Pixel{0, 0, 0, 0}));
    EXPECT_EQ(at(*f, 96, 432), (Pixel{0, 0, 0, 0}));

    auto rgba = clearedFrame(640, 480);
    rgba->drawCursor(makeCursor(8, 8, {4, 6}), {100, 50}, true);
    EXPECT_EQ(at(*rgba, 96, 424), (Pixel{200, 0, 0, 255}));
}

TEST(ZVMovieFrame, CursorOfTheOtherByteOrderDrawsTheSamePixels) {
    const ZVCursorEntry native = makeCursor(12, 9, {3.5f, 2.25f});
    const ZVCursorEntry foreign = otherByteOrder(native);
    ASSERT_NE(foreign.info.size, int32_t(foreign.data->size()));
    auto a = clearedFrame(64, 48);
    auto b = clearedFrame(64, 48);
    a->drawCursor(native, {20.5f, 30.75f});
    b->drawCursor(foreign, {20.5f, 30.75f});
    EXPECT_EQ(bytesOf(*a), bytesOf(*b));
    EXPECT_NE(bytesOf(*a), bytesOf(*clearedFrame(64, 48)));
    EXPECT_EQ(0, std::memcmp(&b->currentCursorInfo(), &native.info, sizeof(ZVCursorInfo)));
    EXPECT_EQ(0, std::memcmp(b->currentCursorData(), native.data->data(), native.data->size()));
}

TEST(ZVMovieFrame, UnsupportedOrInconsistentCursorsDrawNothing) {
    auto f = clearedFrame(64, 48);
    const auto blank = bytesOf(*f);
    void (*const damages[])(ZVCursorInfo&) = {
        [](ZVCursorInfo& i) { i.depth = 24, i.components = 3; },
        [](ZVCursorInfo& i) { i.bitsPerComponent = 16; },
        [](ZVCursorInfo& i) { i.size = 12345; },      // matches in neither byte order
        [](ZVCursorInfo& i) { i.bytesPerRow = 64; },  // rows longer than the bytes
        [](ZVCursorInfo& i) { i.bytesPerRow = 8; },   // rows shorter than the pixels
        [](ZVCursorInfo& i) { i.bytesPerRow = 17; },  // 17 x 3 + 16 bytes, 64 there
    };
    for (auto damage : damages) {
        ZVCursorEntry c = makeCursor(4, 4, {0, 0});
        damage(c.info);
        zvtest::LogCapture log;
        f->drawCursor(c, {10, 10});
        f->drawCursor(c, {10, 10});
        EXPECT_EQ(log.lines(), (std::vector<std::string>(2, "Unsupported cursor format")));
        EXPECT_EQ(bytesOf(*f), blank);
    }
    f->drawCursor(ZVCursorEntry{}, {10, 10});  // no data at all
    EXPECT_EQ(bytesOf(*f), blank);
}

TEST(ZVMovieFrame, CursorIsPreparedOncePerFrameAndDataKeptAlive) {
    auto f = clearedFrame(64, 48);
    ZVCursorEntry cursor = makeCursor(4, 4, {0, 0});
    std::weak_ptr<const std::vector<uint8_t>> watch = cursor.data;
    f->drawCursor(cursor, {10, 10});
    // The prepared copy is reused: a failing allocation is never met.
    ZVVideoFailNextAllocations(1);
    f->clearBuffer();
    f->drawCursor(cursor, {10, 10});
    ZVVideoFailNextAllocations(0);
    EXPECT_EQ(at(*f, 10, 38)[3], 255);

    // The frame keeps the bytes it prepared from, so their address cannot be reused.
    cursor.data.reset();
    EXPECT_FALSE(watch.expired());
    // Equal bytes at another address are another cursor: prepared again.
    ZVCursorEntry again = makeCursor(4, 4, {0, 0});
    {
        zvtest::LogCapture log;
        ZVVideoFailNextAllocations(1);
        f->clearBuffer();
        f->drawCursor(again, {10, 10});
        ZVVideoFailNextAllocations(0);
        EXPECT_EQ(log.lines(),
                  std::vector<std::string>{"ME-7: drawCursor:atPoint: failed with malloc error"});
        EXPECT_EQ(at(*f, 10, 38)[3], 0);
        EXPECT_EQ(f->currentCursorData(), nullptr);
        EXPECT_TRUE(watch.expired());
    }
    f->drawCursor(again, {10, 10});
    EXPECT_EQ(at(*f, 10, 38)[3], 255);
}

TEST(ZVMovieFrame, CopyKeepsEverythingButPreparesItsCursorAgain) {
    auto f = clearedFrame(64, 48);
    ZVFrameInfo info = f->info();
    info.mousePointerIndex = 7;
    info.frameFlags = kZVFrameLeftButton;
    f->setInfo(info);
    f->setKeyStrokes(strokes({{0, 36}}));
    f->setKeyStrokesString("text");
    ZVCursorEntry cursor = makeCursor(4, 4, {0, 0});
    f->drawCursor(cursor, {10, 10});

    auto copied = std::dynamic_pointer_cast<ZVMovieFrame>(f->copy());
    ASSERT_TRUE(copied);
    EXPECT_EQ(bytesOf(*copied), bytesOf(*f));
    ZVFrameInfo copiedInfo = copied->info();
    EXPECT_EQ(0, std::memcmp(&copiedInfo, &info, sizeof info));
    EXPECT_EQ(copied->keyStrokes(), f->keyStrokes());
    EXPECT_EQ(copied->keyStrokesString(), "text");
    ASSERT_NE(copied->currentCursorData(), nullptr);
    EXPECT_NE(copied->currentCursorData(), f->currentCursorData());
    EXPECT_EQ(0, std::memcmp(copied->currentCursorData(), cursor.data->data(), 64));
    EXPECT_EQ(0, std::memcmp(&copied->currentCursorInfo(), &cursor.info, sizeof cursor.info));

    // Same cursor, but the copy never saw its bytes: it prepares them again.
    zvtest::LogCapture log;
    ZVVideoFailNextAllocations(1);
    copied->drawCursor(cursor, {10, 10});
    ZVVideoFailNextAllocations(0);
    EXPECT_TRUE(log.contains("ME-7"));
}
