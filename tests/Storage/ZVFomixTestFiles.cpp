#include "ZVFomixTestFiles.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>

#include "support/ZVTestSupport.h"

namespace zvtest {

std::shared_ptr<ZVMovieFrame> patternFrame(int width, int height, uint32_t seed, double timestamp,
                                           int16_t frameFlags) {
    ZVFrameInfo info{};
    info.dimensions = ZVSize{float(width), float(height)};
    info.timestamp = timestamp;
    info.mousePointerLocation = ZVPoint{float(seed), float(seed * 2)};
    info.mousePointerIndex = seed;
    info.keyCode = int16_t(seed % 50);
    info.frameFlags = frameFlags;
    info.flags = 0x100000 * (seed % 2);
    auto frame = ZVMovieFrame::movieFrameWithInfo(info);
    frame->clearBuffer();
    uint8_t* base = frame->baseAddress();
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            // A background that stays, and a band that moves with the seed.
            uint32_t w = 0xFF000000u | uint32_t(x * 3 + y * 5);
            if ((x + y + int(seed)) % 7 == 0) w = 0xFF000000u | (seed * 2654435761u >> 8);
            std::memcpy(base + size_t(y) * frame->bytesPerRow() + size_t(x) * 4, &w, 4);
        }
    }
    return frame;
}

namespace {
ReadResult readAll(ZVFomixFileReader& reader) {
    ReadResult r;
    r.accepted = reader.readHeader();
    if (!r.accepted) return r;
    r.header = reader.header();
    uint32_t w = 0, h = 0;
    if (!reader.canvasSize(w, h)) return r;
    Bytes pixels;
    const ZVFomixCanvas canvas = ZVFomixMakeCanvas(w, h, pixels);
    ZVFomixRecord record;
    for (;;) {
        r.last = reader.readFrame(record, canvas, true);
        if (r.last != ZVFomixStep::Frame && r.last != ZVFomixStep::FailedFrame) break;
        r.frames.push_back({record.startOffset, record.info, pixels, record.hasKeyStrokes,
                            record.keyStrokes, record.hasKeyText, record.keyText});
        if (r.last == ZVFomixStep::FailedFrame) break;
    }
    return r;
}

}  // namespace

ReadResult readAll(const Bytes& bytes) {
    ZVFomixFileReader reader;
    reader.openMemory(bytes.data(), bytes.size());
    return readAll(reader);
}

ReadResult readFile(const std::string& path) {
    ZVFomixFileReader reader;
    EXPECT_TRUE(reader.openFile(path)) << path;
    return readAll(reader);
}

Bytes unfinished(Bytes file) {
    std::fill(file.begin(), file.begin() + std::min<size_t>(file.size(), 28), 0);
    return file;
}

std::shared_ptr<ZVFomixIO> recordFrames(const std::string& path,
                                        const std::vector<std::shared_ptr<ZVMovieFrame>>& frames,
                                        const std::function<void(ZVFomixIO&)>& prepare) {
    auto queue = std::make_shared<ZVQueue>();
    queue->setLimit(kZVQueueNoLimit);
    for (auto& f : frames) queue->addObject(f);
    auto writer = ZVFomixIO::initWithFile(path, ZVFomixIO::kWriteMode);
    FomixDelegate delegate;
    writer->setDelegate(&delegate);
    writer->setDataSource(queue.get());
    if (prepare) prepare(*writer);
    writer->start();
    writer->finalize();
    EXPECT_TRUE(runMainUntil([&] { return delegate.stopped == 1; }, 60));
    writer->setDelegate(nullptr);
    writer->setDataSource(nullptr);
    return writer;
}

Bytes recordBytes(const std::vector<std::shared_ptr<ZVMovieFrame>>& frames) {
    TempDir dir;
    recordFrames(dir.file("c.fomix"), frames);
    return readBytes(dir.file("c.fomix"));
}

int runReader(ZVFomixIO& reader, ZVDataDestination* out) {
    FomixDelegate delegate;
    reader.setDelegate(&delegate);
    reader.setDataDestination(out);
    reader.start();
    EXPECT_TRUE(runMainUntil([&] { return delegate.stopped == 1; }));
    reader.setDelegate(nullptr);
    return delegate.started;
}

}  // namespace zvtest
