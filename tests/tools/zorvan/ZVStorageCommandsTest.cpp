// The capture-file commands of the zorvan tool, run as a user runs them.
#include <gtest/gtest.h>

#include <sstream>

#include "Storage/ZVFomixTestFiles.h"
#include "support/ZVZorvanProcess.h"

using namespace zvtest;

namespace {

struct CliRun {
    int status = -1;
    std::string out;  // standard output and standard error
};

// Runs zorvan with the words of `args`; its standard output and error together.
CliRun zorvan(const std::string& args) {
    TempDir dir;
    std::vector<std::string> words;
    std::istringstream in(args);
    for (std::string w; in >> w;) words.push_back(w);
    Zorvan z(dir, words);
    CliRun r;
    r.status = z.wait();
    r.out = z.out() + z.err();
    return r;
}

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
    CliRun r = zorvan("info " + path);
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("signature: 0x2C1A7F5F (current layout, this machine's byte order)"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("duration: 1.250 s"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("frames: 5"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("size: {40, 30}"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("records: 5 (1 compressed, 1 with key strokes"), std::string::npos)
        << r.out;

    EXPECT_EQ(zorvan("info --help").status, 0);
    r = zorvan("info " + dir.file("missing"));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "zorvan info: " + dir.file("missing") + ": No such file or directory\n");
}

TEST(ZVStorageCli, FrameWritesThePicture) {
    TempDir dir;
    const std::string path = recorded(dir);
    CliRun r = zorvan("frame " + path + " 1 -o " + dir.file("one.png"));
    ASSERT_EQ(r.status, 0) << r.out;
    auto png = ZVImage::readPNG(dir.file("one.png"));
    auto direct = ZVFomixIO::imageAtIndex(1, path);
    ASSERT_TRUE(png && direct);
    ASSERT_EQ(png->width(), 40);
    ASSERT_EQ(png->height(), 30);
    for (int y = 0; y < 30; y += 3)
        for (int x = 0; x < 40; x += 3) ASSERT_EQ(png->rgbaAt(x, y), direct->rgbaAt(x, y));

    EXPECT_EQ(zorvan("frame " + path + " x -o " + dir.file("x.png")).status, 1);
    EXPECT_EQ(zorvan("frame " + path + " 1").status, 1);
    EXPECT_EQ(zorvan("frame --help").status, 0);
}

TEST(ZVStorageCli, RepairMendsAnUnfinishedFile) {
    TempDir dir;
    const std::string path = recorded(dir);
    Bytes whole = fileBytes(path);
    Bytes broken(whole.begin(), whole.end() - 5);
    std::fill(broken.begin(), broken.begin() + 28, 0);
    writeBytes(path, broken);

    CliRun r = zorvan("info " + path);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("Unsupported FOMIX format (its writer never finished"), std::string::npos)
        << r.out;
    r = zorvan("frame " + path + " 1 -o " + dir.file("f.png"));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("Unsupported FOMIX format"), std::string::npos) << r.out;

    r = zorvan("repair " + path);
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("wrote a header for 4 whole frames of {40, 30}, 1.000 s"),
              std::string::npos)
        << r.out;
    ZVFomixFileInfo info = ZVFomixIO::infoForFile(path);
    EXPECT_EQ(info.frames, 4u);
    EXPECT_EQ(zorvan("info " + path).status, 0);

    // Again: readable already, left alone.
    Bytes repaired = fileBytes(path);
    r = zorvan("repair " + path);
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("readable already"), std::string::npos) << r.out;
    EXPECT_EQ(fileBytes(path), repaired);
    EXPECT_EQ(zorvan("repair --help").status, 0);
}

TEST(ZVStorageCli, InfoDescribesAPackageAndItsCaptureFile) {
    TempDir dir;
    auto package = ZVFomixXManager::initWithFile(dir.file("rec.fomixx"));
    package->createFomixX();
    auto video = package->createPathForPackageResource(ZVFomixXResourceVideo);
    ASSERT_TRUE(video);
    recordFrames(*video, {patternFrame(16, 8, 1, 0.5)});
    CliRun r = zorvan("info " + package->path());
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("video"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("frames: 1"), std::string::npos) << r.out;
}

}  // namespace
