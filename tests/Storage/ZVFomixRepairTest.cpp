// A capture file cut at every byte of its last record, and the same file with random bytes
// changed: the reader ends in order every time, and the repair of the unfinished file
// recovers every whole record and leaves a file that reads to exactly what it counts.
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "ZVFomixTestFiles.h"
#include "support/ZVTestSupport.h"

using namespace zvtest;

namespace {

struct Sample {
    Bytes file;                       // finished
    std::vector<size_t> recordStart;  // offset of each record
    ReadResult read;
};

const Sample& sample() {
    static Sample s = [] {
        TempDir dir;
        std::vector<std::shared_ptr<ZVMovieFrame>> frames;
        for (int i = 0; i < 6; ++i) {
            int16_t flags =
                i % 2 ? kZVFrameHasKeyStrokes | kZVFrameCompress : kZVFrameHasKeyStrokes;
            auto f = patternFrame(13, 5, uint32_t(i + 1), 0.02 * (i + 1), flags);
            Bytes keys(8, uint8_t(i));
            f->setKeyStrokes(keys);
            f->setKeyStrokesString("k" + std::to_string(i));
            frames.push_back(f);
        }
        recordFrames(dir.file("c.fomix"), frames);
        Sample s;
        s.file = fileBytes(dir.file("c.fomix"));
        s.read = readAll(s.file);
        ZVFomixFileReader reader;
        reader.openMemory(s.file.data(), s.file.size());
        reader.readHeader();
        uint32_t w, h;
        reader.canvasSize(w, h);
        Bytes pixels;
        const ZVFomixCanvas canvas = ZVFomixMakeCanvas(w, h, pixels);
        ZVFomixRecord record;
        while (reader.readFrame(record, canvas, false) == ZVFomixStep::Frame)
            s.recordStart.push_back(record.startOffset);
        return s;
    }();
    return s;
}

Bytes unfinished(Bytes b) {
    std::fill(b.begin(), b.begin() + 28, 0);
    return b;
}

void expectSameFrames(const ReadResult& got, const ReadResult& want, size_t count) {
    ASSERT_EQ(got.frames.size(), count);
    for (size_t i = 0; i < count; ++i) {
        ASSERT_EQ(got.frames[i].pixels, want.frames[i].pixels) << "frame " << i;
        ASSERT_EQ(0, std::memcmp(&got.frames[i].info, &want.frames[i].info, 44)) << "frame " << i;
    }
}

TEST(ZVFomixRepair, FileCutInsideItsLastRecord) {
    const Sample& s = sample();
    ASSERT_EQ(s.read.frames.size(), 6u);
    ASSERT_EQ(s.recordStart.size(), 6u);
    TempDir dir;
    const std::string path = dir.file("cut.fomix");
    const size_t lastStart = s.recordStart.back();
    for (size_t cut = lastStart; cut < s.file.size(); ++cut) {
        SCOPED_TRACE(cut);
        Bytes finished(s.file.begin(), s.file.begin() + cut);
        ReadResult r = readAll(finished);
        expectSameFrames(r, s.read, 5);
        // Torn inside a chunk, the chunk is longer than the rest of the file.
        ASSERT_NE(r.last, ZVFomixStep::FailedFrame);
        ASSERT_NE(r.last, ZVFomixStep::Frame);

        writeBytes(path, unfinished(finished));
        ZVFomixRepairResult fix = ZVFomixRepair(path);
        ASSERT_EQ(fix.outcome, ZVFomixRepairResult::Outcome::Repaired) << fix.message;
        EXPECT_EQ(fix.header.frames, 5u);
        EXPECT_DOUBLE_EQ(double(fix.header.duration), double(s.read.frames[4].info.timestamp));
        EXPECT_EQ(fix.header.initialDimensions, (ZVSize{13, 5}));
        EXPECT_EQ(fix.keptSize, lastStart);
        ReadResult repaired = readFile(path);
        expectSameFrames(repaired, s.read, 5);
        ASSERT_EQ(repaired.last, ZVFomixStep::End);
    }
    // Whole: every record is kept, and the header is the one the writer wrote.
    writeBytes(path, unfinished(s.file));
    ZVFomixRepairResult fix = ZVFomixRepair(path);
    EXPECT_EQ(fix.header.frames, 6u);
    EXPECT_EQ(fileBytes(path), s.file);
}

TEST(ZVFomixRepair, LeavesReadableAndForeignFilesAlone) {
    const Sample& s = sample();
    TempDir dir;
    writeBytes(dir.file("ok.fomix"), s.file);
    ZVFomixRepairResult fix = ZVFomixRepair(dir.file("ok.fomix"));
    EXPECT_EQ(fix.outcome, ZVFomixRepairResult::Outcome::AlreadyReadable);
    EXPECT_EQ(fileBytes(dir.file("ok.fomix")), s.file);

    Bytes text = {'h', 'e', 'l', 'l', 'o'};
    writeBytes(dir.file("text"), text);
    EXPECT_EQ(ZVFomixRepair(dir.file("text")).outcome,
              ZVFomixRepairResult::Outcome::NotACaptureFile);
    EXPECT_EQ(fileBytes(dir.file("text")), text);

    EXPECT_EQ(ZVFomixRepair(dir.file("missing")).outcome, ZVFomixRepairResult::Outcome::Failed);

    // A dry run says what it would do and changes nothing.
    Bytes cut(s.file.begin(), s.file.end() - 3);
    writeBytes(dir.file("cut"), unfinished(cut));
    fix = ZVFomixRepair(dir.file("cut"), true);
    EXPECT_EQ(fix.header.frames, 5u);
    EXPECT_EQ(fileBytes(dir.file("cut")), unfinished(cut));

    // Only the zero header: a file of no frames.
    writeBytes(dir.file("zero"), Bytes(28, 0));
    fix = ZVFomixRepair(dir.file("zero"));
    EXPECT_EQ(fix.outcome, ZVFomixRepairResult::Outcome::Repaired);
    EXPECT_EQ(ZVFomixIO::infoForFile(dir.file("zero")).signature, kZVFomixSignature);
    EXPECT_EQ(ZVFomixIO::infoForFile(dir.file("zero")).frames, 0u);
}

}  // namespace
