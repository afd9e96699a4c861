// Every message the capture-file stage shows, exactly as it is spelled, in one table.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "ZVFomixTestFiles.h"
#include "support/ZVTestSupport.h"

using namespace zvtest;

namespace {

// Runs a reading stage on `path` until it stops.
void readThrough(const std::string& path) {
    auto reader = ZVFomixIO::initWithFile(path, ZVFomixIO::kReadMode);
    ASSERT_TRUE(reader);
    FomixDelegate d;
    reader->setDelegate(&d);
    reader->start();
    ASSERT_TRUE(runMainUntil([&] { return d.stopped == 1; }));
    reader->setDelegate(nullptr);
    // The host can also ask the stage why it stopped early.
    EXPECT_NE(reader->failureReason(), "");
}

// A finished file of two frames; `mangle` changes its bytes.
std::string sampleFile(const TempDir& dir, const std::function<void(Bytes&)>& mangle) {
    const std::string path = dir.file("sample.fomix");
    recordFrames(path, {patternFrame(8, 4, 1, 0.1), patternFrame(8, 4, 2, 0.2)});
    Bytes b = fileBytes(path);
    mangle(b);
    writeBytes(path, b);
    return path;
}

struct ExceptionRow {
    const char* name;
    const char* reason;
    std::function<void(const std::string& path)> call;
};

TEST(ZVStorageMessages, Exceptions) {
    const ExceptionRow rows[] = {
        {"+[ZVFomixIO infoForFile:]", "Unsupported FOMIX format",
         [](const std::string& p) { ZVFomixIO::infoForFile(p); }},
        {"+[ZVFomixIO imageAtIndex:ofFile:]", "Unsupported FOMIX format",
         [](const std::string& p) { ZVFomixIO::imageAtIndex(1, p); }},
    };
    TempDir dir;
    const std::string path =
        sampleFile(dir, [](Bytes& b) { std::fill(b.begin(), b.begin() + 4, 0); });
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        try {
            row.call(path);
            ADD_FAILURE() << "no exception";
        } catch (const ZVException& e) {
            EXPECT_EQ(e.name(), row.name);
            EXPECT_EQ(e.reason(), row.reason);
        }
    }
}

struct LogRow {
    const char* line;  // a logged line is exactly this
    std::function<void(const TempDir&)> cause;
};

TEST(ZVStorageMessages, LogLines) {
    const LogRow rows[] = {
        {"Frame checksum incorrect.",
         [](const TempDir& dir) {
             readThrough(sampleFile(dir, [](Bytes& b) { b.resize(b.size() - 2); }));
         }},
        {"Decompression error. Stoping read process.",
         [](const TempDir& dir) {
             // The first block's offset of the second record moved past the picture.
             readThrough(sampleFile(dir, [](Bytes& b) {
                 uint32_t dataSize;
                 std::memcpy(&dataSize, b.data() + 28 + 4, 4);
                 const size_t second = 28 + 44 + dataSize;
                 const uint32_t far = 1 << 20;
                 std::memcpy(b.data() + second + 44, &far, 4);
             }));
         }},
        {"ME-6: fomixWriter failed with malloc error",
         [](const TempDir& dir) {
             recordFrames(dir.file("w.fomix"), {patternFrame(8, 4, 1, 0.1)}, 0);
         }},
        {"-[ZVFomixIO fomixReader]: Unsupported FOMIX format",
         [](const TempDir& dir) {
             readThrough(
                 sampleFile(dir, [](Bytes& b) { std::fill(b.begin(), b.begin() + 28, 0); }));
         }},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.line);
        TempDir dir;
        LogCapture log;
        row.cause(dir);
        bool found = false;
        for (const auto& l : log.lines()) found |= l.rfind(row.line, 0) == 0;
        EXPECT_TRUE(found) << "logged:\n" << ::testing::PrintToString(log.lines());
    }
}

}  // namespace
