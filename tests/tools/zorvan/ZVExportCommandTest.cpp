// `zorvan export` end to end: a package recorded by `zorvan record` on the test's Xvfb is
// exported into a movie beside it that ffprobe reads, and a full disk ends the export
// with its alert line and a clean exit.
#include <gtest/gtest.h>

#include <filesystem>

#include "Export/ZVExportTestSupport.h"
#include "Storage/ZVFomixXManager.h"
#include "support/ZVTestSupport.h"
#include "support/ZVXvfbFixture.h"
#include "support/ZVZorvanProcess.h"

ZV_XVFB_ENVIRONMENT(zvtest::XvfbLayout::OneMonitor);

namespace {
using zvtest::readText;
using zvtest::Zorvan;

class ExportCommandTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ZV_REQUIRE_XVFB();
        Zorvan rec(dir, {"record", "--duration", "1.5", dir.file("take.fomixx")});
        ASSERT_EQ(rec.wait(60), 0) << rec.err();
        // A microphone track that started half a second after the screen.
        auto package = ZVFomixXManager::initWithFile(dir.file("take.fomixx"));
        auto wav = package->createPathForPackageResource(ZVFomixXResourceAudio);
        ASSERT_TRUE(wav);
        zvtest::writeWav(*wav, 44100, [](int i) { return int16_t(i % 100 < 50 ? 8000 : -8000); });
        const double screen = package->startOffsetTime(ZVFomixXResourceVideo).value_or(0);
        package->setStartOffsetTime(screen + 0.5, ZVFomixXResourceAudio);
    }
    zvtest::TempDir dir;
};
}  // namespace

TEST_F(ExportCommandTest, TheMovieGoesBesideThePackage) {
    Zorvan ex(dir, {"export", "--scale", "50", "--audio-codec", "pcm", dir.file("take.fomixx")});
    ASSERT_EQ(ex.wait(120), 0) << ex.err();
    EXPECT_EQ(ex.out(), dir.file("take.mov") + "\n");
    auto streams = zvtest::probeMovie(dir.file("take.mov"));
    ASSERT_EQ(streams.size(), 2u);
    EXPECT_EQ(streams[0].codec, "h264");
    EXPECT_EQ(streams[0].width, 960);
    EXPECT_EQ(streams[0].height, 540);
    EXPECT_GT(streams[0].frames, 60);
    EXPECT_EQ(streams[1].codec, "pcm_s16le");
    EXPECT_NEAR(streams[1].start, 0.5, 0.001);
    EXPECT_NEAR(streams[1].duration, 1.0, 0.001);
    EXPECT_FALSE(std::filesystem::exists(dir.file("take.fomixx/movie.mov")));
}

TEST_F(ExportCommandTest, AFullDiskEndsWithItsAlertAndNoMovie) {
    // A file-size limit on the process makes every write past it fail as a full disk does.
    const std::string command = "ulimit -f 64; exec '" + zvtest::zorvan() +
                                "' export --video-codec png '" + dir.file("take.fomixx") +
                                "' -o '" + dir.file("full.mov") + "' 2>'" + dir.file("full.txt") +
                                "'";
    const int status = std::system(command.c_str());
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1);
    EXPECT_EQ(readText(dir.file("full.txt")), "zorvan export: Disk is possibly full\n");
    EXPECT_FALSE(std::filesystem::exists(dir.file("full.mov")));
}
