// A capture-file writer whose disk is slower than the screen: what waits for the disk is
// encoded records within their bound, compression comes on before any frame is left out,
// frames are left out whole and counted, and the file still reads right to its end.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <thread>

#include "ZVFomixTestFiles.h"
#include "support/ZVTestSupport.h"

using namespace zvtest;

TEST(ZVFomixWriterBudget, ASlowDiskGetsCompressedRecordsThenWholeFramesLeftOut) {
    constexpr int kFrames = 120;
    constexpr size_t kLimit = 1 << 20;
    std::vector<std::shared_ptr<ZVMovieFrame>> frames;
    for (int i = 0; i < kFrames; ++i)
        frames.push_back(patternFrame(256, 256, uint32_t(i + 1), 0.01 * i));
    TempDir dir;
    const std::string path = dir.file("slow.fomix");
    std::atomic<double> peakFill{0};
    auto writer = recordFrames(path, frames, [&](ZVFomixIO& w) {
        // The disk: 0.4 s per megabyte.
        w.setDiskQueue(kLimit, [&](size_t bytes) {
            peakFill.store(std::max(peakFill.load(), w.diskQueueFill()));
            std::this_thread::sleep_for(std::chrono::microseconds(bytes * 400000 / (1 << 20)));
        });
    });

    const int dropped = writer->droppedFrames();
    EXPECT_GT(dropped, 0);
    EXPECT_LE(peakFill.load(), 1.0);
    EXPECT_EQ(writer->writenFrames() + dropped, kFrames);
    EXPECT_EQ(writer->fileInfo().frames, uint32_t(writer->writenFrames()));

    const ReadResult read = readFile(path);
    ASSERT_TRUE(read.accepted);
    ASSERT_EQ(read.last, ZVFomixStep::End);
    ASSERT_EQ(read.frames.size(), size_t(writer->writenFrames()));
    int firstCompressed = -1, firstDropped = -1, next = 0;
    for (const ReadFrame& f : read.frames) {
        const int index = int(std::lround(double(f.info.timestamp) / 0.01));
        if (firstDropped < 0 && index != next) firstDropped = next;
        if (firstCompressed < 0 && (f.info.frameFlags & kZVFrameCompress)) firstCompressed = index;
        next = index + 1;
        // Each stored frame shows its own picture, whatever was left out before it.
        const auto& want = frames[size_t(index)];
        ASSERT_EQ(0, std::memcmp(f.pixels.data(), want->baseAddress(), size_t(want->bufferSize())))
            << "frame " << index;
    }
    if (firstDropped < 0) firstDropped = next;
    ASSERT_GE(firstCompressed, 0);
    EXPECT_LT(firstCompressed, firstDropped);
}
