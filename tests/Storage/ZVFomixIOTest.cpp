// The capture-file stage end to end: frames written through the writing stage come back,
// frame by frame, from the reading stage; the stage's own edge cases (nothing written, a
// file that cannot be opened, a refused file) end in order and the host hears of them.
// (Stop against finalize is the shared worker's, in ZVStageTest.)
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "ZVFomixTestFiles.h"
#include "support/ZVTestSupport.h"

using namespace zvtest;

namespace {

constexpr int kW = 37, kH = 9;  // rows of 148 bytes padded to 192

Bytes pixelsOf(ZVMovieFrame& f) {
    return Bytes(f.baseAddress(), f.baseAddress() + f.bufferSize());
}

struct Recording {
    std::vector<std::shared_ptr<ZVMovieFrame>> frames;  // what went in
    std::vector<std::shared_ptr<ZVMovieFrame>> stored;  // what should come back
};

// Eight frames: key strokes, compression, an all-black frame (not stored), a frame
// identical to its predecessor, and a last frame that compresses badly.
Recording sampleRecording() {
    Recording r;
    const int16_t keys = kZVFrameHasKeyStrokes, both = kZVFrameHasKeyStrokes | kZVFrameCompress;
    int16_t flags[] = {0, keys, both, 0, kZVFrameCompress, both, keys, both};
    for (int i = 0; i < 8; ++i) {
        auto f = patternFrame(kW, kH, i == 5 ? 5 : uint32_t(i + 1), 0.04 * (i + 1), flags[i]);
        if (i == 3) f->clearBuffer();  // a failed screen read
        if (flags[i] & kZVFrameHasKeyStrokes) {
            Bytes entries;
            put(entries, ZVKeyStroke{0x100000, 0});
            put(entries, ZVKeyStroke{0, int32_t(i)});
            f->setKeyStrokes(entries);
            f->setKeyStrokesString(i == 1 ? "hello" : "⌘A" + std::to_string(i));
        }
        if (i == 7) {
            std::mt19937 noise(11);
            for (int k = 0; k < f->bufferSize(); k += 4) {
                uint32_t w = uint32_t(noise()) | 1;
                std::memcpy(f->baseAddress() + k, &w, 4);
            }
        }
        r.frames.push_back(f);
        if (i != 3) r.stored.push_back(f);
    }
    return r;
}

TEST(ZVFomixIO, WrittenFramesComeBackFrameByFrame) {
    TempDir dir;
    const std::string path = dir.file("capture.fomix");
    Recording rec = sampleRecording();
    auto writer = recordFrames(path, rec.frames);
    EXPECT_EQ(writer->failureReason(), "");
    EXPECT_EQ(writer->writenFrames(), 7);
    ZVFomixFileInfo written = writer->fileInfo();
    EXPECT_EQ(written.signature, kZVFomixSignature);
    EXPECT_EQ(written.frames, 7u);
    EXPECT_DOUBLE_EQ(double(written.duration), 0.32);
    EXPECT_EQ(written.initialDimensions, (ZVSize{kW, kH}));
    ZVFomixFileInfo info = ZVFomixIO::infoForFile(path);
    EXPECT_EQ(0, std::memcmp(&info, &written, sizeof info));

    ZVQueue out;
    out.setLimit(kZVQueueNoLimit);
    auto reader = ZVFomixIO::initWithFile(path, ZVFomixIO::kReadMode);
    ASSERT_TRUE(reader);
    EXPECT_EQ(runReader(*reader, &out), 1);
    EXPECT_EQ(reader->readFrames(), 7);
    EXPECT_EQ(reader->failureReason(), "");
    ASSERT_EQ(out.count(), 7);

    for (size_t i = 0; i < rec.stored.size(); ++i) {
        SCOPED_TRACE(i);
        auto got = std::dynamic_pointer_cast<ZVMovieFrame>(out.nextObject());
        ASSERT_TRUE(got);
        ZVMovieFrame& want = *rec.stored[i];
        // The repeated frame shares the canvas, which the later records were applied to a
        // copy of, until its pixels are looked at.
        EXPECT_EQ(got->sharesPixels(), i == 4);
        EXPECT_EQ(pixelsOf(*got), pixelsOf(want));
        ZVFrameInfo a = got->info(), b = want.info();
        b.blocks = a.blocks;
        b.dataSize = a.dataSize;
        // The writer clears the compress bit of records it stores uncompressed.
        EXPECT_EQ(a.frameFlags & ~kZVFrameCompress, b.frameFlags & ~kZVFrameCompress);
        b.frameFlags = a.frameFlags;
        EXPECT_EQ(0, std::memcmp(&a, &b, sizeof a));
        if (want.info().frameFlags & kZVFrameHasKeyStrokes) {
            EXPECT_EQ(got->keyStrokes(), want.keyStrokes());
            EXPECT_EQ(got->keyStrokesString(), want.keyStrokesString());
        } else {
            EXPECT_TRUE(got->keyStrokes().empty());
        }
    }
    // The identical frame (the sixth taken, fifth stored) has no blocks.
    ReadResult file = readFile(path);
    ASSERT_EQ(file.frames.size(), 7u);
    EXPECT_EQ(file.frames[4].info.blocks, 0u);
    EXPECT_EQ(file.frames[4].info.dataSize, 0u);
    // Compression kept for the compressible frames, dropped for the noisy one and for the
    // frame without a chunk list.
    EXPECT_TRUE(file.frames[2].info.frameFlags & kZVFrameCompress);
    EXPECT_FALSE(file.frames[3].info.frameFlags & kZVFrameCompress);
    EXPECT_FALSE(file.frames[6].info.frameFlags & kZVFrameCompress);
}

TEST(ZVFomixIO, StopBeforeAnyFrameLeavesAHeaderOnly) {
    TempDir dir;
    recordFrames(dir.file("empty.fomix"), {});
    const Bytes bytes = readBytes(dir.file("empty.fomix"));
    ASSERT_EQ(bytes.size(), 28u);
    const auto h = get<ZVFomixFileInfo>(bytes, 0);
    EXPECT_EQ(h.signature, kZVFomixSignature);
    EXPECT_EQ(double(h.duration), 0);
    EXPECT_EQ(h.frames, 0u);
    EXPECT_EQ(h.initialDimensions, (ZVSize{0, 0}));
    // A reader of it starts, hands on nothing and stops.
    auto reader = ZVFomixIO::initWithFile(dir.file("empty.fomix"), ZVFomixIO::kReadMode);
    EXPECT_EQ(runReader(*reader), 1);
    EXPECT_EQ(reader->readFrames(), 0);
}

TEST(ZVFomixIO, AFileThatCannotBeOpenedForWritingIsReported) {
    TempDir dir;
    LogCapture log;
    const std::string path = dir.file("no/such/dir/capture.fomix");
    std::vector<std::shared_ptr<ZVMovieFrame>> frames = {patternFrame(kW, kH, 1, 0.1),
                                                         patternFrame(kW, kH, 2, 0.2)};
    auto writer = recordFrames(path, frames);
    EXPECT_NE(writer->failureReason().find(path), std::string::npos);
    EXPECT_NE(writer->failureReason().find("No such file or directory"), std::string::npos);
    EXPECT_EQ(writer->writenFrames(), 2);  // it ran and counted all the same
    int lines = 0;
    for (auto& l : log.lines()) lines += l.find(path) != std::string::npos;
    EXPECT_EQ(lines, 1);
}

TEST(ZVFomixIO, RefusedAndMissingFiles) {
    TempDir dir;
    EXPECT_EQ(ZVFomixIO::initWithFile(dir.file("missing"), ZVFomixIO::kReadMode), nullptr);
    EXPECT_NE(ZVFomixIO::initWithFile(dir.file("missing"), ZVFomixIO::kWriteMode), nullptr);
    ZVFomixFileInfo zero = ZVFomixIO::infoForFile(dir.file("missing"));
    EXPECT_EQ(zero.signature, 0);
    EXPECT_EQ(zero.frames, 0u);

    // A writer that never finished: refused, without a did-start (the message is in
    // ZVStorageMessagesTest); it can be started again and ends the same way.
    writeBytes(dir.file("unfinished.fomix"),
               unfinished(recordBytes({patternFrame(kW, kH, 1, 0.1)})));
    auto reader = ZVFomixIO::initWithFile(dir.file("unfinished.fomix"), ZVFomixIO::kReadMode);
    EXPECT_EQ(runReader(*reader), 0);
    EXPECT_FALSE(reader->isRunning());
    EXPECT_EQ(runReader(*reader), 0);
}

TEST(ZVFomixIO, ImageAtIndex) {
    TempDir dir;
    const std::string path = dir.file("c.fomix");
    auto first = patternFrame(kW, kH, 1, 0.1), second = patternFrame(kW, kH, 2, 0.2);
    recordFrames(path, {first, second});

    auto zero = ZVFomixIO::imageAtIndex(0, path);
    ASSERT_TRUE(zero);
    EXPECT_EQ(zero->width(), kW);
    EXPECT_EQ(zero->rgbaAt(3, 3), (std::array<uint8_t, 4>{0, 0, 0, 255}));

    // n = 1: the first frame, rows in reverse memory order.
    auto one = ZVFomixIO::imageAtIndex(1, path);
    ASSERT_TRUE(one);
    auto pixel = [](ZVMovieFrame& f, int x, int memoryRow) {
        const uint8_t* p = f.baseAddress() + size_t(memoryRow) * f.bytesPerRow() + x * 4;
        return std::array<uint8_t, 4>{p[2], p[1], p[0], 255};
    };
    for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; x += 5) ASSERT_EQ(one->rgbaAt(x, y), pixel(*first, x, kH - 1 - y));

    auto many = ZVFomixIO::imageAtIndex(99, path);
    ASSERT_TRUE(many);
    EXPECT_EQ(many->rgbaAt(7, 0), pixel(*second, 7, kH - 1));
}

TEST(ZVFomixIO, FramesOfAnotherSizeAreDroppedNotCompared) {
    TempDir dir;
    LogCapture log;
    const std::string path = dir.file("c.fomix");
    auto writer =
        recordFrames(path, {patternFrame(kW, kH, 1, 0.1), patternFrame(kW + 20, kH, 2, 0.2),
                            patternFrame(kW, kH + 30, 3, 0.3), patternFrame(kW, kH, 4, 0.4)});
    EXPECT_EQ(writer->fileInfo().frames, 2u);
    EXPECT_DOUBLE_EQ(double(writer->fileInfo().duration), 0.4);
    int lines = 0;
    for (auto& l : log.lines()) lines += l.find("dropped frames of size") != std::string::npos;
    EXPECT_EQ(lines, 1);
    ReadResult r = readFile(path);
    ASSERT_EQ(r.frames.size(), 2u);
    EXPECT_EQ(r.frames[1].pixels, pixelsOf(*patternFrame(kW, kH, 4, 0.4)));
}

}  // namespace
