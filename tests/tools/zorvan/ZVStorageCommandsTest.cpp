// The capture-file commands of the zorvan tool, run as a user runs them.
#include <gtest/gtest.h>

#include <filesystem>

#include "Storage/ZVFomixTestFiles.h"
#include "support/ZVZorvanProcess.h"

using namespace zvtest;

namespace {

std::string recorded(const TempDir& dir) {
    const std::string path = dir.file("capture.fomix");
    std::vector<std::shared_ptr<ZVMovieFrame>> frames;
    for (int i = 0; i < 5; ++i)
        frames.push_back(patternFrame(40, 30, uint32_t(i + 1), 0.25 * (i + 1),
                                      i == 2 ? kZVFrameHasKeyStrokes | kZVFrameCompress : 0));
    recordFrames(path, frames);
    return path;
}

TEST(ZVStorageCli, InfoDescribesACaptureFile) {
    TempDir dir;
    const std::string path = recorded(dir);
    ZorvanRun r = runZorvanLine("info " + path);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("signature: 0x2C1A7F5F (current layout, this machine's byte order)"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("duration: 1.250 s"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("frames: 5"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("size: {40, 30}"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("records: 5 (1 compressed, 1 with key strokes"), std::string::npos)
        << r.out;

    EXPECT_EQ(runZorvanLine("info --help").status, 0);  // main answers --help for each command
    r = runZorvanLine("info " + dir.file("missing"));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "zorvan info: " + dir.file("missing") + ": No such file or directory\n");
    // A folder that is no recording, and a package whose Info.plist is damaged.
    std::filesystem::create_directories(dir.file("plain"));
    writeText(dir.file("plain/notes.txt"), "hello");
    std::filesystem::create_directories(dir.file("bad.fomixx"));
    writeText(dir.file("bad.fomixx/Info.plist"), "junk");
    r = runZorvanLine("info " + dir.file("plain"));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "zorvan info: " + dir.file("plain") +
                         ": not a recording package (no Info.plist and no track files)\n");
    r = runZorvanLine("info " + dir.file("bad.fomixx"));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "zorvan info: " + dir.file("bad.fomixx/Info.plist") +
                         ": not a property list ('zorvan repair " + dir.file("bad.fomixx") +
                         "' lists its tracks anew)\n");
}

TEST(ZVStorageCli, FrameWritesThePicture) {
    TempDir dir;
    const std::string path = recorded(dir);
    ZorvanRun r = runZorvanLine("frame " + path + " 1 -o " + dir.file("one.png"));
    ASSERT_EQ(r.status, 0) << r.err;
    auto png = ZVImage::readPNG(dir.file("one.png"));
    auto direct = ZVFomixIO::imageAtIndex(1, path);
    ASSERT_TRUE(png && direct);
    ASSERT_EQ(png->width(), 40);
    ASSERT_EQ(png->height(), 30);
    for (int y = 0; y < 30; y += 3)
        for (int x = 0; x < 40; x += 3) ASSERT_EQ(png->rgbaAt(x, y), direct->rgbaAt(x, y));

    EXPECT_EQ(runZorvanLine("frame " + path + " x -o " + dir.file("x.png")).status, 1);
    EXPECT_EQ(runZorvanLine("frame " + path + " 1").status, 1);
    EXPECT_EQ(runZorvanLine("frame " + path + " 1 -o /missing/x.png").err,
              "zorvan frame: cannot write /missing/x.png: /missing: No such file or directory\n");
}

TEST(ZVStorageCli, RepairMendsAnUnfinishedFile) {
    TempDir dir;
    const std::string path = recorded(dir);
    Bytes whole = readBytes(path);
    Bytes broken(whole.begin(), whole.end() - 5);
    std::fill(broken.begin(), broken.begin() + 28, 0);
    writeBytes(path, broken);

    ZorvanRun r = runZorvanLine("info " + path);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("Unsupported FOMIX format (its writer never finished"), std::string::npos)
        << r.err;
    r = runZorvanLine("frame " + path + " 1 -o " + dir.file("f.png"));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("Unsupported FOMIX format"), std::string::npos) << r.err;

    r = runZorvanLine("repair " + path);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("mended (record 5 is torn): 4 whole frames of {40, 30}, 1.000 s"),
              std::string::npos)
        << r.out;
    ZVFomixFileInfo info = ZVFomixIO::infoForFile(path);
    EXPECT_EQ(info.frames, 4u);
    EXPECT_EQ(readBytes(path + ".damaged"), broken);  // the original is kept
    EXPECT_EQ(runZorvanLine("info " + path).status, 0);

    // Again: readable already, left alone.
    Bytes repaired = readBytes(path);
    r = runZorvanLine("repair " + path);
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("readable already"), std::string::npos) << r.out;
    EXPECT_EQ(readBytes(path), repaired);

    // A file no recording made (28 zero bytes, then text) is refused and left as it is.
    Bytes foreign(28, 0);
    for (char c : std::string("notes, not frames")) foreign.push_back(uint8_t(c));
    writeBytes(dir.file("foreign.bin"), foreign);
    r = runZorvanLine("repair " + dir.file("foreign.bin"));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("is not a capture file"), std::string::npos) << r.err;
    EXPECT_EQ(readBytes(dir.file("foreign.bin")), foreign);
    EXPECT_FALSE(std::filesystem::exists(dir.file("foreign.bin.damaged")));
}

}  // namespace
