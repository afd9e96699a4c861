// Every message of the capture file, the recording package and its cursor list, exactly as
// it is spelled, each made to happen by what causes it.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>

#include "Storage/ZVCursorListFile.h"
#include "Storage/ZVFomixXManager.h"
#include "ZVFomixTestFiles.h"
#include "support/ZVTestSupport.h"

using namespace zvtest;

namespace {

// Runs a reading stage on a damaged file until it stops; the host can also ask it why.
void readFailing(const std::string& path) {
    auto reader = ZVFomixIO::initWithFile(path, ZVFomixIO::kReadMode);
    runReader(*reader);
    EXPECT_NE(reader->failureReason(), "");
}

bool startsWith(const std::string& text, const std::string& prefix) {
    return text.rfind(prefix, 0) == 0;
}

// A finished file of two frames; `mangle` changes its bytes.
std::string sampleFile(const TempDir& dir, const std::function<void(Bytes&)>& mangle) {
    const std::string path = dir.file("sample.fomix");
    Bytes b = recordBytes({patternFrame(8, 4, 1, 0.1), patternFrame(8, 4, 2, 0.2)});
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
             readFailing(sampleFile(dir, [](Bytes& b) { b.resize(b.size() - 2); }));
         }},
        {"Decompression error. Stoping read process.",
         [](const TempDir& dir) {
             // The first block's offset of the second record moved past the picture.
             readFailing(sampleFile(dir, [](Bytes& b) {
                 uint32_t dataSize;
                 std::memcpy(&dataSize, b.data() + 28 + 4, 4);
                 const size_t second = 28 + 44 + dataSize;
                 const uint32_t far = 1 << 20;
                 std::memcpy(b.data() + second + 44, &far, 4);
             }));
         }},
        {"ME-6: fomixWriter failed with malloc error",
         [](const TempDir& dir) {
             recordFrames(dir.file("w.fomix"), {patternFrame(8, 4, 1, 0.1)},
                          [](ZVFomixIO& w) { w.setBlockBufferLimit(0); });
         }},
        {"-[ZVFomixIO fomixReader]: Unsupported FOMIX format",
         [](const TempDir& dir) {
             readFailing(sampleFile(dir, [](Bytes& b) { b = unfinished(b); }));
         }},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.line);
        TempDir dir;
        LogCapture log;
        row.cause(dir);
        bool found = false;
        for (const auto& l : log.lines()) found |= startsWith(l, row.line);
        EXPECT_TRUE(found) << "logged:\n" << ::testing::PrintToString(log.lines());
    }
}

// Where reading or a repair stops, and why, as the reading stage and the repair say it.
TEST(ZVStorageMessages, WhyReadingAndRepairStop) {
    TempDir dir;
    const std::string narrow = sampleFile(dir, [](Bytes& b) {
        std::memcpy(b.data(), &kZVFomixEarlierSignature, 4);
        std::memset(b.data() + 28 + 16, 0, 4);  // the first record's width
    });
    auto reader = ZVFomixIO::initWithFile(narrow, ZVFomixIO::kReadMode);
    runReader(*reader);
    EXPECT_EQ(reader->failureReason(),
              "Capture file " + narrow +
                  ": frame record 1 is damaged (frame width of 0 or less in a file of the "
                  "earlier layout); reading stops there");

    // Cut 10 bytes into the second record of an unfinished file.
    const std::string torn = sampleFile(dir, [](Bytes& b) {
        b = unfinished(Bytes(b.begin(), b.begin() + 28 + 44 + get<uint32_t>(b, 32) + 10));
    });
    EXPECT_EQ(ZVFomixRepair(torn).message,
              torn +
                  ": mended (record 2 is torn): 1 whole frames of {8, 4}, 0.100 s; 10 "
                  "damaged or torn bytes left out; the original is kept as " +
                  torn + ".damaged");
}

}  // namespace

namespace fs = std::filesystem;

namespace {

ZVValue cursorDict(ZVValue id, ZVValue info, ZVValue data) {
    ZVValue d = ZVValue::dict();
    if (!id.isNull()) d.set("Id", std::move(id));
    if (!info.isNull()) d.set("Info", std::move(info));
    if (!data.isNull()) d.set("Data", std::move(data));
    return d;
}

std::string binary(const ZVValue& v) {
    auto bytes = v.toBinaryPropertyList();
    return std::string(bytes.begin(), bytes.end());
}

}  // namespace

TEST(ZVStorageMessages, PackageAndCursorListMessages) {
    TempDir dir;
    fs::create_directory(dir.file("old.fomixx"));
    const std::string info = dir.file("old.fomixx/Info.plist");
    {
        // The package path is taken by a plain file: neither the directory nor its
        // Info.plist can be made.
        auto m = ZVFomixXManager::initWithFile(dir.file("taken.fomixx"));
        writeText(dir.file("taken.fomixx"), "x");
        LogCapture log;
        m->createFomixX();
        auto lines = log.lines();
        ASSERT_EQ(lines.size(), 2u);
        const std::string taken = dir.file("taken.fomixx");
        EXPECT_PRED2(startsWith, lines[0],
                     "ZVFomixXManager: cannot create the package " + taken + ": ");
        EXPECT_PRED2(
            startsWith, lines[1],
            "ZVFomixXManager: cannot write the package's Info.plist: " + taken + "/Info.plist: ");
        // Nor can the recording go to the Trash when nothing is there.
        auto gone = ZVFomixXManager::initWithFile(dir.file("gone.fomix"));
        gone->createFomixX();
        gone->removeFomixX();
        EXPECT_PRED2(startsWith, log.lines().back(),
                     "ZVFomixXManager: cannot move the recording to the Trash: " +
                         dir.file("gone.fomix") + ": ");
    }
    // The Info.plist errors a package reports through infoError(), and logs.
    ZVValue badTracks = ZVValue::dict();
    badTracks.set("FomixX Version", "1.1");
    badTracks.set("Tracks", 3);
    const struct {
        std::function<void()> make;
        std::string error;
    } infoCases[] = {
        {[&] { writeText(info, "junk"); }, info + ": not a property list"},
        {[&] { writeText(info, ZVValue::array().toXMLPropertyList()); },
         info + ": not a dictionary"},
        {[&] { writeText(info, badTracks.toXMLPropertyList()); },
         info + ": \"Tracks\" is not an array"},
        {[&] {
             fs::remove(info);
             fs::create_directory(info);
         },
         info + ": not a regular file"},
        {[&] {
             fs::remove(info);
             writeText(info, "");
             fs::resize_file(info, 16u * 1024 * 1024 + 1);
         },
         info + ": too large for a package's track list"},
    };
    for (const auto& c : infoCases) {
        c.make();
        LogCapture log;
        EXPECT_EQ(ZVFomixXManager::initWithFile(dir.file("old.fomixx"))->infoError(), c.error);
        EXPECT_EQ(log.lines(),
                  std::vector<std::string>{c.error + "; the package's tracks are unavailable "
                                                     "and its Info.plist is left as it is"});
    }

    // The cursor list's messages.
    ZVValue::Data info44(44, 0), info43(43, 0), pixels(16, 0);
    info44[0] = 16;  // size 16, host byte order
    struct CursorCase {
        std::string bytes;
        const char* error;
    };
    const CursorCase cursorCases[] = {
        {"junk", "not a property list"},
        {binary(ZVValue::dict()), "the cursor list is not an array"},
        {binary(ZVValue::Array{ZVValue("text")}), "cursor 0 is not a dictionary"},
        {binary(ZVValue::Array{cursorDict({}, info44, pixels)}), "cursor 0 has no integer \"Id\""},
        {binary(ZVValue::Array{cursorDict("0", info44, pixels)}), "cursor 0 has no integer \"Id\""},
        {binary(ZVValue::Array{cursorDict(0, info44, pixels),
                               cursorDict(int64_t(1) << 31, info44, pixels)}),
         "cursor 1: \"Id\" 2147483648 is out of range"},
        {binary(ZVValue::Array{cursorDict(0, info43, pixels)}),
         "cursor 0: \"Info\" is not 44 bytes of data"},
        {binary(ZVValue::Array{cursorDict(0, "info", pixels)}),
         "cursor 0: \"Info\" is not 44 bytes of data"},
        {binary(ZVValue::Array{cursorDict(0, info44, {})}), "cursor 0 has no \"Data\""},
        {binary(ZVValue::Array{cursorDict(0, info44, ZVValue::Data(15, 0))}),
         "cursor 0: \"Info\" gives 16 bytes of pixels but \"Data\" holds 15"},
    };
    const std::string cursorsPath = dir.file("cursors.dat");
    for (const auto& c : cursorCases) {
        std::string error;
        EXPECT_FALSE(ZVCursorListFile::fromBytes(c.bytes.data(), c.bytes.size(), &error));
        EXPECT_EQ(error, c.error);
        writeText(cursorsPath, c.bytes);
        EXPECT_FALSE(ZVCursorListFile::read(cursorsPath, &error));
        EXPECT_EQ(error, cursorsPath + ": " + c.error);
    }
    std::string error;
    fs::resize_file(cursorsPath, ZVCursorListFile::kMaxFileSize + 1);
    EXPECT_FALSE(ZVCursorListFile::read(cursorsPath, &error));
    EXPECT_EQ(error, cursorsPath + ": too large for a cursor list");
    EXPECT_FALSE(ZVCursorListFile::read(dir.file("missing.dat"), &error));
    EXPECT_EQ(error, dir.file("missing.dat") + ": No such file or directory");
    EXPECT_FALSE(ZVCursorListFile::read(dir.path(), &error));
    EXPECT_EQ(error, dir.path() + ": not a regular file");
}
