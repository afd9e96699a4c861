// The capture-file commands of the zorvan tool, run as a user runs them.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <set>
#include <sstream>

#include "Audio/ZVWavHeader.h"
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
    for (const char* line :
         {"signature: 0x2C1A7F5F (current layout, this machine's byte order)", "duration: 1.250 s",
          "frames: 5", "size: {40, 30}", "records: 5 (1 compressed, 1 with key strokes"})
        EXPECT_NE(r.out.find(line), std::string::npos) << line << " in:\n" << r.out;

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
                         ": not a property list; would list no tracks anew\nzorvan info: "
                         "'zorvan repair " +
                         dir.file("bad.fomixx") + "' does what is said above\n");
}

TEST(ZVStorageCli, ZoomWritesTheAutomaticPlanBesideTheRecording) {
    TempDir dir;
    const std::string path = recorded(dir);  // a key typed in four of its five frames
    ZorvanRun r = runZorvanLine("zoom " + path);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, dir.file("capture.zoom.plist") + ": 1 zoom segment\n");
    const auto plan = ZVZoomPlanFile::read(dir.file("capture.zoom.plist"),
                                           *ZVReadRecordedInput(path, nullptr), {}, nullptr);
    ASSERT_TRUE(plan);
    EXPECT_EQ(plan->segments(), (std::vector<ZVZoomSegment>{{0.25, 1.25, 2, ZVPoint{3, 6}}}));
    r = runZorvanLine("zoom " + dir.file("none.fomixx") + " -o " + dir.file("p.plist"));
    EXPECT_EQ(r.err, "zorvan zoom: " + dir.file("none.fomixx") + ": no such recording\n");
}

// The picture itself is checked pixel for pixel against a recorded screen in
// ZVRecordCommandTest; here, the arguments frame refuses.
TEST(ZVStorageCli, FrameRefusesBadArguments) {
    TempDir dir;
    const std::string path = recorded(dir);
    EXPECT_EQ(runZorvanLine("frame " + path + " x -o " + dir.file("x.png")).status, 1);
    EXPECT_EQ(runZorvanLine("frame " + path + " 1").status, 1);
    EXPECT_EQ(runZorvanLine("frame " + path + " 1 -o /missing/x.png").err,
              "zorvan frame: cannot write /missing/x.png: /missing: No such file or directory\n");
}

TEST(ZVStorageCli, RepairMendsAnUnfinishedFile) {
    TempDir dir;
    const std::string path = recorded(dir);
    const Bytes whole = readBytes(path);
    writeBytes(path, unfinished(Bytes(whole.begin(), whole.end() - 5)));

    ZorvanRun r = runZorvanLine("info " + path);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("(not accepted: its writer never finished)"), std::string::npos) << r.out;
    EXPECT_NE(r.err.find(": would mend (record 5 is torn): 4 whole frames"), std::string::npos)
        << r.err;
    r = runZorvanLine("frame " + path + " 1 -o " + dir.file("f.png"));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("Unsupported FOMIX format"), std::string::npos) << r.err;

    r = runZorvanLine("repair " + path);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("mended (record 5 is torn): 4 whole frames of {40, 30}, 1.000 s"),
              std::string::npos)
        << r.out;

    // A file no recording made (28 zero bytes, then text) is refused.
    Bytes foreign(28, 0);
    for (char c : std::string("notes, not frames")) foreign.push_back(uint8_t(c));
    writeBytes(dir.file("foreign.bin"), foreign);
    r = runZorvanLine("repair " + dir.file("foreign.bin"));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("is not a capture file"), std::string::npos) << r.err;
}

namespace fs = std::filesystem;

// A package as a recording leaves it: a capture file of five frames, a microphone WAV of
// 0.5 s of 16-bit stereo with its sizes patched, and a cursor list.
std::string recordedPackage(const TempDir& dir) {
    auto package = ZVFomixXManager::initWithFile(dir.file("rec.fomixx"));
    package->createFomixX();
    const std::string capture = *package->createPathForPackageResource(ZVFomixXResourceVideo);
    fs::rename(recorded(dir), capture);
    const ZVSoundFormat format{2, 16, 44100, kZVSoundFormatSignedInteger};
    Bytes wav =
        ZVWavHeader::bytes(ZVWavHeader::records(format, 22050), ZVWavHeader::layoutFor(format));
    wav.resize(92, 0);
    for (int i = 0; i < 22050 * 4; ++i) wav.push_back(uint8_t(i * 13));
    writeBytes(*package->createPathForPackageResource(ZVFomixXResourceAudio), wav);
    ZVCursorListFile::write(*package->createPathForPackageResource(ZVFomixXResourceCursors), {});
    return package->path();
}

std::set<std::string> filesIn(const std::string& dir) {
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(dir)) names.insert(e.path().filename().string());
    return names;
}

// The verdict lines a command printed: info's after its heading (indented), repair's all;
// without the command's own prefix on standard error and info's closing hint.
std::vector<std::string> verdictLines(const ZorvanRun& r, const std::string& prefix) {
    const std::string heading = "judges it:\n";
    const size_t at = r.out.find(heading);
    const bool info = at != std::string::npos;
    std::istringstream out(info ? r.out.substr(at + heading.size()) : r.out);
    std::istringstream err(r.err);
    std::vector<std::string> lines;
    for (std::string line; std::getline(out, line);) lines.push_back(line.substr(info ? 2 : 0));
    for (std::string line; std::getline(err, line);)
        if (line.find("does what is said above") == std::string::npos)
            lines.push_back(line.substr(prefix.size()));
    std::sort(lines.begin(), lines.end());
    return lines;
}

// Every damage a crash, a full disk or a damaged disk leaves in a package: info judges each
// file as repair does, and repair does what it said, leaving the files it says.
TEST(ZVStorageCli, InfoJudgesEachFileAsRepairMendsIt) {
    const std::set<std::string> whole = {"Info.plist", "audio.wav", "cursors.dat", "video.fomix"};
    auto with = [&](std::initializer_list<std::string> more) {
        std::set<std::string> s = whole;
        s.insert(more);
        return s;
    };
    auto without = [&](const std::string& gone, std::initializer_list<std::string> more) {
        std::set<std::string> s = with(more);
        s.erase(gone);
        return s;
    };
    auto cut = [](const std::string& file, size_t size) { fs::resize_file(file, size); };
    // The header a WAV writer writes first, counting no frames.
    const ZVSoundFormat format{2, 16, 44100, kZVSoundFormatSignedInteger};
    const Bytes noFrames =
        ZVWavHeader::bytes(ZVWavHeader::records(format, 0), ZVWavHeader::layoutFor(format));
    const struct {
        const char* name;
        std::function<void(const std::string&)> damage;
        int info, repair;
        std::set<std::string> left;  // the package's files after the repair
        const char* said;            // in the verdicts, naming the file
    } rows[] = {
        {"whole", [](const std::string&) {}, 0, 0, whole, "video.fomix is readable already"},
        {"capture unfinished",
         [](const std::string& p) {
             Bytes b = readBytes(p + "/video.fomix");
             writeBytes(p + "/video.fomix", unfinished(Bytes(b.begin(), b.end() - 5)));
         },
         1, 0, with({"video.fomix.damaged"}), "video.fomix: would mend (record 5 is torn)"},
        {"capture's first 4 KB zeroed",
         [](const std::string& p) {
             Bytes b = readBytes(p + "/video.fomix");
             std::fill(b.begin(), b.begin() + 4096, 0);
             writeBytes(p + "/video.fomix", b);
         },
         1, 0, with({"video.fomix.damaged"}), "before its first whole record are damaged"},
        {"WAV header never patched",
         [&](const std::string& p) {
             Bytes b = readBytes(p + "/audio.wav");
             std::copy(noFrames.begin(), noFrames.end(), b.begin());
             writeBytes(p + "/audio.wav", b);
         },
         1, 0, with({"audio.wav.damaged"}), "audio.wav: would count 22050 frames (0.500 s)"},
        {"empty 44-byte WAV", [&](const std::string& p) { writeBytes(p + "/audio.wav", noFrames); },
         0, 0, whole, "audio.wav is readable already (0 frames: it holds no sound)"},
        {"WAV cut to 20 bytes", [&](const std::string& p) { cut(p + "/audio.wav", 20); }, 1, 0,
         without("audio.wav", {"audio.wav.damaged"}), "audio.wav holds no sound (20 bytes"},
        {"WAV header garbage",
         [](const std::string& p) {
             Bytes b = readBytes(p + "/audio.wav");
             std::fill(b.begin(), b.begin() + 44, 0x5A);
             writeBytes(p + "/audio.wav", b);
         },
         1, 1, whole, "audio.wav: not a WAV file (no RIFF/WAVE header); the format"},
        {"cursor list damaged", [](const std::string& p) { writeText(p + "/cursors.dat", "junk"); },
         1, 1, whole, "cursors.dat: not a property list; it cannot be mended"},
        {"Info.plist unreadable",
         [](const std::string& p) { writeText(p + "/Info.plist", "junk"); }, 1, 0,
         with({"Info.plist.damaged"}),
         "Info.plist: not a property list; would list video.fomix, audio.wav, cursors.dat anew"},
        {"Info.plist gone", [](const std::string& p) { fs::remove(p + "/Info.plist"); }, 1, 0,
         whole, "rec.fomixx has no Info.plist; would list video.fomix, audio.wav, cursors.dat"},
        {"torn movie",
         [](const std::string& p) { writeText(p + "/movie.mov", std::string(36, 'm')); }, 0, 0,
         with({"movie.mov"}), "movie.mov is not a whole movie"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        TempDir dir;
        const std::string package = recordedPackage(dir);
        row.damage(package);
        const std::set<std::string> before = filesIn(package);
        const ZorvanRun info = runZorvanLine("info " + package);
        const ZorvanRun dry = runZorvanLine("repair --dry-run " + package);
        EXPECT_EQ(info.status, row.info) << info.out << info.err;
        EXPECT_EQ(dry.status, row.repair) << dry.out << dry.err;
        const auto said = verdictLines(info, "zorvan info: ");
        EXPECT_EQ(said, verdictLines(dry, "zorvan repair: "));
        EXPECT_TRUE(std::any_of(said.begin(), said.end(), [&](const std::string& l) {
            return l.find(row.said) != std::string::npos;
        })) << ::testing::PrintToString(said);
        EXPECT_EQ(filesIn(package), before);  // looking changes nothing

        const ZorvanRun fix = runZorvanLine("repair " + package);
        EXPECT_EQ(fix.status, row.repair) << fix.out << fix.err;
        EXPECT_EQ(filesIn(package), row.left);
        // What repair mended reads now; what it could not mend is named on its error output.
        if (row.repair == 0)
            EXPECT_EQ(runZorvanLine("info " + package).status, 0);
        else
            EXPECT_NE(fix.err.find(row.said), std::string::npos) << fix.err;
    }
}

}  // namespace
