// A capture-file writer whose disk is slower than the screen: what waits for the disk is
// encoded records within their bound, compression comes on before any frame is left out,
// frames are left out whole and counted, and the file still reads right to its end.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

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
        // The disk stalls until the writer has dealt with every frame, then writes at 0.4 s
        // per megabyte. A disk that is merely slow loses the race against an encoder slowed
        // down by a sanitizer or a busy machine, and then nothing is ever left out.
        w.setDiskQueue(kLimit, [&, stalled = true](size_t bytes) mutable {
            const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(60);
            while (stalled && w.writenFrames() + w.droppedFrames() < kFrames &&
                   std::chrono::steady_clock::now() < giveUp) {
                peakFill.store(std::max(peakFill.load(), w.diskQueueFill()));
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
            stalled = false;
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

TEST(ZVFomixWriterBudget, AFullDiskLeavesAHeaderThatCountsWhatIsOnIt) {
    // Records still wait for the disk when the file-size limit is met: the header and the
    // writer's own account must count only the records that reached the file.
    std::vector<std::shared_ptr<ZVMovieFrame>> frames;
    for (int i = 0; i < 40; ++i)
        frames.push_back(patternFrame(256, 256, uint32_t(i + 1), 0.01 * i));
    TempDir dir;
    const std::string path = dir.file("full.fomix");
    rlimit before{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &before), 0);
    auto oldHandler = signal(SIGXFSZ, SIG_IGN);
    rlimit limited = before;
    limited.rlim_cur = 600 * 1024;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
    // The disk waits before its first write, so every record is queued when writes fail.
    auto writer = recordFrames(path, frames, [](ZVFomixIO& w) {
        w.setDiskQueue(64 << 20, [first = true](size_t) mutable {
            if (first) std::this_thread::sleep_for(std::chrono::milliseconds(300));
            first = false;
        });
    });
    setrlimit(RLIMIT_FSIZE, &before);
    signal(SIGXFSZ, oldHandler);

    const ReadResult read = readFile(path);
    ASSERT_TRUE(read.accepted);
    EXPECT_EQ(read.last, ZVFomixStep::End);
    EXPECT_GT(read.frames.size(), 0u);
    EXPECT_LT(read.frames.size(), frames.size());
    EXPECT_EQ(read.header.frames, read.frames.size());
    EXPECT_EQ(writer->fileInfo().frames, read.frames.size());
}
