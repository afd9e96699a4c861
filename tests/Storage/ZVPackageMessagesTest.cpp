// Every name the recording package and its cursor list are made of, and every message they
// give, in one place, so that nobody "corrects" a spelling elsewhere.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "Storage/ZVCursorListFile.h"
#include "Storage/ZVFomixXManager.h"
#include "support/ZVTestSupport.h"

namespace fs = std::filesystem;
using zvtest::LogCapture;
using zvtest::TempDir;

namespace {

void writeBytes(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

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

TEST(ZVPackageMessages, ExactNamesAndMessages) {
    struct Name {
        std::string_view actual;
        const char* expected;
    };
    const Name names[] = {
        {ZVFomixXManager::kPackageExtension, "fomixx"},
        {ZVFomixXManager::kInfoFileName, "Info.plist"},
        {ZVFomixXManager::kVersionKey, "FomixX Version"},
        {ZVFomixXManager::kCurrentVersion, "1.1"},
        {ZVFomixXManager::kTracksKey, "Tracks"},
        {ZVFomixXManager::kNameKey, "Name"},
        {ZVFomixXManager::kTypeKey, "Type"},
        {ZVFomixXManager::kPathKey, "Path"},
        {ZVFomixXManager::kPlainMovieKey, "PlainMovie"},
        {ZVFomixXManager::kMovieFileName, "movie.mov"},
        {ZVFomixXManager::kMovieExtension, "mov"},
        {ZVFomixXManager::kStartOffsetTimeKey, "StartOffsetTime"},
        {ZVFomixXManager::typeForResource(ZVFomixXResourceVideo), "video"},
        {ZVFomixXManager::typeForResource(ZVFomixXResourceAudio), "audio"},
        {ZVFomixXManager::typeForResource(ZVFomixXResourceSystemAudio), "systemaudio"},
        {ZVFomixXManager::typeForResource(ZVFomixXResourceCursors), "cursors"},
        {ZVFomixXManager::typeForResource(ZVFomixXResourceMovie), ""},
        {ZVFomixXManager::extensionForResource(ZVFomixXResourceVideo), "fomix"},
        {ZVFomixXManager::extensionForResource(ZVFomixXResourceAudio), "wav"},
        {ZVFomixXManager::extensionForResource(ZVFomixXResourceSystemAudio), "wav"},
        {ZVFomixXManager::extensionForResource(ZVFomixXResourceCursors), "dat"},
        {ZVCursorListFile::kIdKey, "Id"},
        {ZVCursorListFile::kInfoKey, "Info"},
        {ZVCursorListFile::kDataKey, "Data"},
    };
    for (const auto& n : names) EXPECT_EQ(n.actual, n.expected);
    EXPECT_EQ(ZVFomixXResourceVideo, 0);
    EXPECT_EQ(ZVFomixXResourceAudio, 1);
    EXPECT_EQ(ZVFomixXResourceSystemAudio, 2);
    EXPECT_EQ(ZVFomixXResourceCursors, 3);
    EXPECT_EQ(ZVFomixXResourceMovie, 4);

    TempDir dir;
    // The earlier layout's fixed track list.
    fs::create_directory(dir.file("old.fomixx"));
    auto old = ZVFomixXManager::initWithFile(dir.file("old.fomixx"));
    ASSERT_EQ(old->tracks().size(), 2u);
    const char* earlier[2][3] = {{"video1", "video", "frames"}, {"cursors1", "cursors", "cursors"}};
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(old->tracks()[i].get("Name")->stringValue(), earlier[i][0]);
        EXPECT_EQ(old->tracks()[i].get("Type")->stringValue(), earlier[i][1]);
        EXPECT_EQ(old->tracks()[i].get("Path")->stringValue(), earlier[i][2]);
    }

    // The package's messages: what the log says.
    const std::string info = dir.file("old.fomixx/Info.plist");
    {
        writeBytes(info, "junk");
        LogCapture log;
        ZVFomixXManager::initWithFile(dir.file("old.fomixx"));
        ASSERT_FALSE(log.lines().empty());
        EXPECT_EQ(log.lines().back(), info +
                                          ": not a property list; the package's tracks are "
                                          "unavailable and its Info.plist is left as it is");
    }
    {
        // The package path is taken by a plain file: neither the directory nor its
        // Info.plist can be made.
        auto m = ZVFomixXManager::initWithFile(dir.file("taken.fomixx"));
        writeBytes(dir.file("taken.fomixx"), "x");
        LogCapture log;
        m->createFomixX();
        auto lines = log.lines();
        ASSERT_EQ(lines.size(), 2u);
        EXPECT_EQ(
            lines[0].rfind(
                "ZVFomixXManager: cannot create the package " + dir.file("taken.fomixx") + ": ", 0),
            0u)
            << lines[0];
        EXPECT_EQ(lines[1].rfind("ZVFomixXManager: cannot write the package's Info.plist: " +
                                     dir.file("taken.fomixx/Info.plist") + ": ",
                                 0),
                  0u)
            << lines[1];
        // Nor can the recording go to the Trash when nothing is there.
        auto gone = ZVFomixXManager::initWithFile(dir.file("gone.fomix"));
        gone->createFomixX();
        gone->removeFomixX();
        EXPECT_EQ(
            log.lines().back().rfind("ZVFomixXManager: cannot move the recording to the Trash: " +
                                         dir.file("gone.fomix") + ": ",
                                     0),
            0u)
            << log.lines().back();
    }
    // The Info.plist errors a package reports through infoError().
    struct InfoCase {
        std::string bytes;
        std::string error;
    };
    ZVValue badTracks = ZVValue::dict();
    badTracks.set("FomixX Version", "1.1");
    badTracks.set("Tracks", 3);
    const InfoCase infoCases[] = {
        {"junk", info + ": not a property list"},
        {ZVValue::array().toXMLPropertyList(), info + ": not a dictionary"},
        {badTracks.toXMLPropertyList(), info + ": \"Tracks\" is not an array"},
    };
    for (const auto& c : infoCases) {
        writeBytes(info, c.bytes);
        EXPECT_EQ(ZVFomixXManager::initWithFile(dir.file("old.fomixx"))->infoError(), c.error);
    }
    fs::remove(info);
    fs::create_directory(info);
    EXPECT_EQ(ZVFomixXManager::initWithFile(dir.file("old.fomixx"))->infoError(),
              info + ": not a regular file");
    fs::remove(info);
    writeBytes(info, "");
    fs::resize_file(info, 16u * 1024 * 1024 + 1);
    EXPECT_EQ(ZVFomixXManager::initWithFile(dir.file("old.fomixx"))->infoError(),
              info + ": too large for a package's track list");

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
        writeBytes(cursorsPath, c.bytes);
        EXPECT_FALSE(ZVCursorListFile::read(cursorsPath, &error));
        EXPECT_EQ(error, cursorsPath + ": " + c.error);
    }
    std::string error;
    fs::resize_file(cursorsPath, ZVCursorListFile::kMaxFileSize + 1);
    EXPECT_FALSE(ZVCursorListFile::read(cursorsPath, &error));
    EXPECT_EQ(error, cursorsPath + ": too large for a cursor list");
}
