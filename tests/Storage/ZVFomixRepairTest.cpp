// A capture file cut at every byte of its last record: the reader ends in order every time,
// and the repair of the unfinished file recovers every whole record and leaves a file that
// reads to exactly what it counts. The repair never harms: a foreign file is left as it is,
// a damaged record in the middle costs that record and not the ones after it, and the
// original is always kept.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <functional>

#include "ZVFomixTestFiles.h"
#include "support/ZVTestSupport.h"

using namespace zvtest;
using Outcome = ZVFomixRepairResult::Outcome;

namespace {

struct Sample {
    Bytes file;  // finished
    ReadResult read;
};

// Six frames with key chunks, every other one compressed: cuts land in every kind of field.
const Sample& sample() {
    static Sample s = [] {
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
        const Bytes file = recordBytes(frames);
        return Sample{file, readAll(file)};
    }();
    return s;
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
    TempDir dir;
    const std::string path = dir.file("cut.fomix");
    const size_t lastStart = s.read.frames.back().start;
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
        ASSERT_EQ(fix.outcome, Outcome::Repaired) << fix.message;
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
    EXPECT_EQ(readBytes(path), s.file);
}

TEST(ZVFomixRepair, LeavesReadableAndMissingFilesAlone) {
    const Sample& s = sample();
    TempDir dir;
    writeBytes(dir.file("ok.fomix"), s.file);
    ZVFomixRepairResult fix = ZVFomixRepair(dir.file("ok.fomix"));
    EXPECT_EQ(fix.outcome, Outcome::AlreadyReadable);
    EXPECT_EQ(readBytes(dir.file("ok.fomix")), s.file);

    EXPECT_EQ(ZVFomixRepair(dir.file("missing")).outcome, Outcome::Failed);

    // Only the zero header: a file of no frames.
    writeBytes(dir.file("zero"), Bytes(28, 0));
    fix = ZVFomixRepair(dir.file("zero"));
    EXPECT_EQ(fix.outcome, Outcome::Repaired);
    EXPECT_EQ(ZVFomixIO::infoForFile(dir.file("zero")).signature, kZVFomixSignature);
    EXPECT_EQ(ZVFomixIO::infoForFile(dir.file("zero")).frames, 0u);
}

// `count` plain frames 0.1 s apart.
Sample plainSample(int count) {
    std::vector<std::shared_ptr<ZVMovieFrame>> frames;
    for (int i = 0; i < count; ++i) frames.push_back(patternFrame(24, 9, uint32_t(i + 1), 0.1 * i));
    const Bytes file = recordBytes(frames);
    return Sample{file, readAll(file)};
}

TEST(ZVFomixRepair, ForeignFilesStayAsTheyAre) {
    TempDir dir;
    // Text shorter than a header; 28 zero bytes, then anything but a capture record.
    const Bytes text = {'h', 'e', 'l', 'l', 'o'};
    Bytes zeros(28, 0);
    for (int i = 0; i < 4000; ++i) zeros.push_back(uint8_t('a' + i % 26));
    for (const Bytes& bytes : {text, zeros}) {
        const std::string path = dir.file("foreign");
        writeBytes(path, bytes);
        const ZVFomixRepairResult fix = ZVFomixRepair(path);
        EXPECT_EQ(fix.outcome, Outcome::NotACaptureFile) << fix.message;
        EXPECT_EQ(readBytes(path), bytes);
        EXPECT_FALSE(std::filesystem::exists(path + ".damaged"));
    }
}

// A damaged record costs that record and no more, in the middle or at the start: the
// records after it are found by two whole records in a row. A dry run says what it would
// do and changes nothing; the mended file reads, and a second repair leaves it alone.
TEST(ZVFomixRepair, RecordsAfterADamagedOneAreKept) {
    const Sample longer = plainSample(30);
    const size_t total = longer.read.frames.size();
    ASSERT_GT(longer.file.size(), 8000u);
    size_t after4K = 0;  // the first record wholly past the first 4 KB
    while (longer.read.frames[after4K].start < 4096) ++after4K;
    const size_t fourth = longer.read.frames[3].start, sixth = longer.read.frames[5].start;
    const struct {
        const char* name;
        std::function<void(Bytes&)> damage;
        size_t from, to;  // the records lost
    } rows[] = {
        {"record 4's size swallows record 5",
         [&](Bytes& b) { setWord(b, fourth + 4, uint32_t(sixth - fourth)); }, 3, 4},
        {"record 4's picture size", [&](Bytes& b) { setWord(b, fourth + 16, 0xFFFFFFFF); }, 3, 4},
        {"first record's size", [](Bytes& b) { setWord(b, 28 + 4, 0x7FFFFFF0); }, 0, 1},
        {"first record's picture size", [](Bytes& b) { setWord(b, 28 + 16, 0xFFFFFFFF); }, 0, 1},
        {"first 4 KB zeroed", [](Bytes& b) { std::fill(b.begin(), b.begin() + 4096, 0); }, 0,
         after4K},
        {"first 4 KB overwritten",
         [](Bytes& b) {
             for (size_t i = 0; i < 4096; ++i) b[i] = uint8_t(i * 7 + 3);
         },
         0, after4K},
    };
    TempDir dir;
    for (const auto& row : rows) {
        for (bool finished : {true, false}) {
            const std::string name =
                std::string(row.name) + (finished ? ", finished" : ", unfinished");
            SCOPED_TRACE(name);
            Bytes bytes = finished ? longer.file : unfinished(longer.file);
            row.damage(bytes);
            const std::string path = dir.file(name + ".fomix");
            writeBytes(path, bytes);
            const size_t want = total - (row.to - row.from);

            const ZVFomixRepairResult dry = ZVFomixRepair(path, true);
            EXPECT_EQ(dry.outcome, Outcome::Repaired);
            EXPECT_EQ(dry.header.frames, want);
            EXPECT_EQ(readBytes(path), bytes);

            const ZVFomixRepairResult fix = ZVFomixRepair(path);
            ASSERT_EQ(fix.outcome, Outcome::Repaired) << fix.message;
            EXPECT_EQ(fix.header.frames, want) << fix.message;
            EXPECT_EQ(fix.salvagedFrames, total - row.to);
            EXPECT_DOUBLE_EQ(double(fix.header.duration),
                             double(longer.read.frames.back().info.timestamp));
            EXPECT_EQ(fix.damagedPath, path + ".damaged");
            EXPECT_EQ(readBytes(fix.damagedPath), bytes);
            const ReadResult mended = readFile(path);
            ASSERT_TRUE(mended.accepted);
            EXPECT_EQ(mended.last, ZVFomixStep::End);
            ASSERT_EQ(mended.frames.size(), want);
            for (size_t i = 0; i < want; ++i) {
                const size_t was = i < row.from ? i : i + row.to - row.from;
                ASSERT_EQ(0,
                          std::memcmp(&mended.frames[i].info, &longer.read.frames[was].info, 44));
            }
            EXPECT_EQ(ZVFomixRepair(path).outcome, Outcome::AlreadyReadable);
        }
    }
}

TEST(ZVFomixRepair, InPlaceMendsAnUnfinishedFileWithoutACopy) {
    const Sample r = plainSample(8);
    TempDir dir;
    const Bytes bytes = unfinished(Bytes(r.file.begin(), r.file.end() - 5));
    const std::string path = dir.file("cut.fomix");
    writeBytes(path, bytes);
    const ZVFomixRepairResult fix = ZVFomixRepair(path, false, true);
    ASSERT_EQ(fix.outcome, Outcome::Repaired) << fix.message;
    EXPECT_TRUE(fix.damagedPath.empty());
    EXPECT_FALSE(std::filesystem::exists(path + ".damaged"));
    const Bytes got = readBytes(path);
    ASSERT_EQ(got.size(), r.read.frames.back().start);
    EXPECT_TRUE(std::equal(got.begin() + 28, got.end(), r.file.begin() + 28));
    EXPECT_EQ(readFile(path).frames.size(), 7u);
}

}  // namespace
