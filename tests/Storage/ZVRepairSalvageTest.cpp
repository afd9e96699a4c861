// The repair never harms: a foreign file is left as it is, a damaged record in the middle
// costs that record and not the ones after it, and the original is always kept.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "ZVFomixTestFiles.h"
#include "support/ZVTestSupport.h"

using namespace zvtest;
using Outcome = ZVFomixRepairResult::Outcome;

namespace {

struct Recording {
    Bytes file;
    std::vector<size_t> start;  // offset of each record
};

const Recording& recording() {
    static Recording r = [] {
        TempDir dir;
        std::vector<std::shared_ptr<ZVMovieFrame>> frames;
        for (int i = 0; i < 8; ++i) frames.push_back(patternFrame(24, 9, uint32_t(i + 1), 0.1 * i));
        recordFrames(dir.file("c.fomix"), frames);
        Recording r;
        r.file = readBytes(dir.file("c.fomix"));
        ZVFomixFileReader reader;
        reader.openMemory(r.file.data(), r.file.size());
        reader.readHeader();
        Bytes pixels;
        const ZVFomixCanvas canvas = ZVFomixMakeCanvas(24, 9, pixels);
        ZVFomixRecord record;
        while (reader.readFrame(record, canvas, false) == ZVFomixStep::Frame)
            r.start.push_back(record.startOffset);
        return r;
    }();
    return r;
}

void setWord(Bytes& b, size_t at, uint32_t value) {
    std::memcpy(b.data() + at, &value, 4);
}

TEST(ZVRepairSalvage, ForeignFilesStayAsTheyAre) {
    TempDir dir;
    // 28 zero bytes, then anything but a capture record; and a real record of another
    // recording's size behind a zero header that no writer made (text after it).
    Bytes zeros(28, 0);
    for (int i = 0; i < 4000; ++i) zeros.push_back(uint8_t('a' + i % 26));
    Bytes implausible = recording().file;
    std::fill(implausible.begin(), implausible.begin() + 28, 0);
    setWord(implausible, 28 + 4, 0x7FFFFFF0);  // block data no frame can make
    for (const Bytes& bytes : {zeros, implausible}) {
        const std::string path = dir.file("foreign");
        writeBytes(path, bytes);
        const ZVFomixRepairResult fix = ZVFomixRepair(path);
        EXPECT_EQ(fix.outcome, Outcome::NotACaptureFile) << fix.message;
        EXPECT_EQ(readBytes(path), bytes);
        EXPECT_FALSE(std::filesystem::exists(path + ".damaged"));
    }
}

TEST(ZVRepairSalvage, RecordsAfterADamagedOneAreKept) {
    const Recording& r = recording();
    ASSERT_EQ(r.start.size(), 8u);
    TempDir dir;
    // Record 4's size field grown (it swallows what follows), or its picture size broken;
    // in a finished file and in one whose writer never finished.
    for (int damage = 0; damage < 2; ++damage) {
        for (bool finished : {true, false}) {
            SCOPED_TRACE(damage * 2 + finished);
            Bytes bytes = r.file;
            if (!finished) std::fill(bytes.begin(), bytes.begin() + 28, 0);
            const size_t at = r.start[3];
            if (damage == 0)
                setWord(bytes, at + 4, uint32_t(r.start[5] - at));
            else
                setWord(bytes, at + 16, 0xFFFFFFFF);
            const std::string path = dir.file("damaged.fomix");
            writeBytes(path, bytes);
            std::filesystem::remove(path + ".damaged");

            const ZVFomixRepairResult dry = ZVFomixRepair(path, true);
            EXPECT_EQ(dry.outcome, Outcome::Repaired);
            EXPECT_EQ(readBytes(path), bytes);

            const ZVFomixRepairResult fix = ZVFomixRepair(path);
            ASSERT_EQ(fix.outcome, Outcome::Repaired) << fix.message;
            EXPECT_EQ(fix.header.frames, 7u) << fix.message;
            EXPECT_EQ(fix.salvagedFrames, 4u);
            EXPECT_DOUBLE_EQ(double(fix.header.duration), 0.7);
            EXPECT_EQ(fix.damagedPath, path + ".damaged");
            EXPECT_EQ(readBytes(path + ".damaged"), bytes);
            const ReadResult mended = readFile(path);
            ASSERT_TRUE(mended.accepted);
            EXPECT_EQ(mended.frames.size(), 7u);
            EXPECT_EQ(mended.last, ZVFomixStep::End);
            // Now it reads: a second repair changes nothing.
            EXPECT_EQ(ZVFomixRepair(path).outcome, Outcome::AlreadyReadable);
        }
    }
}

TEST(ZVRepairSalvage, InPlaceMendsAnUnfinishedFileWithoutACopy) {
    const Recording& r = recording();
    TempDir dir;
    Bytes bytes(r.file.begin(), r.file.end() - 5);
    std::fill(bytes.begin(), bytes.begin() + 28, 0);
    const std::string path = dir.file("cut.fomix");
    writeBytes(path, bytes);
    const ZVFomixRepairResult fix = ZVFomixRepair(path, false, true);
    ASSERT_EQ(fix.outcome, Outcome::Repaired) << fix.message;
    EXPECT_TRUE(fix.damagedPath.empty());
    EXPECT_FALSE(std::filesystem::exists(path + ".damaged"));
    const Bytes got = readBytes(path);
    ASSERT_EQ(got.size(), r.start.back());
    EXPECT_TRUE(std::equal(got.begin() + 28, got.end(), r.file.begin() + 28));
    EXPECT_EQ(readFile(path).frames.size(), 7u);
}

}  // namespace
