// The recording package against a real file system: naming, the Info.plist in its two
// layouts, movie extraction, sizes, the Trash and per-track properties.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "Storage/ZVFomixXDescription.h"
#include "Storage/ZVFomixXManager.h"
#include "support/ZVTestSupport.h"

namespace fs = std::filesystem;
using zvtest::LogCapture;
using zvtest::readText;
using zvtest::TempDir;
using zvtest::writeText;

namespace {

ZVValue readInfo(const std::string& package) {
    auto v = ZVValue::readFile(package + "/Info.plist");
    EXPECT_TRUE(v.has_value());
    return v.value_or(ZVValue());
}

// "Type:Name:Path" of every track in the package's Info.plist, in order.
std::vector<std::string> trackSummary(const ZVValue& info) {
    std::vector<std::string> out;
    if (!info.get("Tracks") || !info.get("Tracks")->arrayItems()) return out;
    for (const auto& t : *info.get("Tracks")->arrayItems())
        out.push_back(t.get("Type")->stringValue() + ":" + t.get("Name")->stringValue() + ":" +
                      t.get("Path")->stringValue());
    return out;
}

}  // namespace

TEST(ZVFomixXManager, PlainRecordingPathsAndMovie) {
    TempDir dir;
    auto m = ZVFomixXManager::initWithFile(dir.file("rec.fomix"));
    EXPECT_FALSE(m->exists());
    EXPECT_FALSE(m->isPackage());
    EXPECT_EQ(m->infoDictionary().get("PlainMovie")->stringValue(), dir.file("rec.mov"));
    EXPECT_EQ(m->pathForResource(ZVFomixXResourceVideo), std::nullopt);
    EXPECT_EQ(m->extractMovie(), std::nullopt);
    EXPECT_EQ(m->fileSize(), 0u);

    m->createFomixX();  // nothing on disk yet: the path is kept and no file is made
    EXPECT_TRUE(m->exists());
    EXPECT_EQ(m->path(), dir.file("rec.fomix"));
    EXPECT_FALSE(fs::exists(dir.file("rec.fomix")));
    EXPECT_EQ(m->pathForResource(ZVFomixXResourceVideo), dir.file("rec.fomix"));
    EXPECT_EQ(m->pathForResource(ZVFomixXResourceMovie), dir.file("rec.mov"));
    EXPECT_EQ(m->pathForResource(ZVFomixXResourceAudio), std::nullopt);
    EXPECT_EQ(m->pathForResource(ZVFomixXResourceCursors), std::nullopt);
    EXPECT_EQ(m->createPathForPackageResource(ZVFomixXResourceVideo), std::nullopt);
    EXPECT_EQ(m->propertiesForResource(ZVFomixXResourceVideo), std::nullopt);
    EXPECT_EQ(m->extractMovie(), dir.file("rec.mov"));

    writeText(dir.file("rec.fomix"), std::string(1234, 'x'));
    EXPECT_EQ(m->fileSize(), 1234u);

    // The movie name skips what exists, and a second manager for an existing capture file
    // picks a fresh capture-file name on createFomixX.
    writeText(dir.file("rec.mov"), "m");
    auto again = ZVFomixXManager::initWithFile(dir.file("rec.fomix"));
    EXPECT_TRUE(again->exists());
    EXPECT_EQ(again->pathForResource(ZVFomixXResourceMovie), dir.file("rec-1.mov"));
    again->createFomixX();
    EXPECT_EQ(again->path(), dir.file("rec-1.fomix"));
}

TEST(ZVFomixXManager, NewPackageNeedsCreateBeforeTrackOperations) {
    TempDir dir;
    auto m = ZVFomixXManager::initWithFile(dir.file("rec.fomixx"));
    EXPECT_FALSE(m->exists());
    EXPECT_TRUE(m->isPackage());
    for (int k = 0; k <= 4; ++k) {
        auto kind = static_cast<ZVFomixXResource>(k);
        EXPECT_EQ(m->createPathForPackageResource(kind), std::nullopt) << k;
        EXPECT_EQ(m->pathForPackageResource(kind), std::nullopt) << k;
        EXPECT_EQ(m->pathForResource(kind), std::nullopt) << k;
        EXPECT_EQ(m->propertiesForResource(kind), std::nullopt) << k;
    }
    EXPECT_EQ(m->extractMovie(), std::nullopt);
    EXPECT_FALSE(fs::exists(dir.file("rec.fomixx")));

    m->createFomixX();
    EXPECT_TRUE(m->exists());
    EXPECT_FALSE(m->isEarlierLayout());
    EXPECT_EQ(m->path(), dir.file("rec.fomixx"));
    ASSERT_TRUE(fs::is_directory(dir.file("rec.fomixx")));
    ZVValue info = readInfo(m->path());
    EXPECT_EQ(info.get("FomixX Version")->stringValue(), "1.1");
    EXPECT_EQ(info.get("Tracks")->size(), 0u);

    // Intermediate directories are made too.
    auto deep = ZVFomixXManager::initWithFile(dir.file("a/b/deep.fomixx"));
    deep->createFomixX();
    EXPECT_TRUE(fs::exists(dir.file("a/b/deep.fomixx/Info.plist")));
}

TEST(ZVFomixXManager, TrackNamesAreUniquePerType) {
    TempDir dir;
    auto m = ZVFomixXManager::initWithFile(dir.file("rec.fomixx"));
    m->createFomixX();
    const std::string p = m->path();
    EXPECT_EQ(m->createPathForPackageResource(ZVFomixXResourceVideo), p + "/video.fomix");
    EXPECT_EQ(m->createPathForPackageResource(ZVFomixXResourceVideo), p + "/video-1.fomix");
    // A stray audio.wav that no track lists is never handed out.
    writeText(p + "/audio.wav", "stray");
    EXPECT_EQ(m->createPathForPackageResource(ZVFomixXResourceAudio), p + "/audio-1.wav");
    EXPECT_EQ(m->createPathForPackageResource(ZVFomixXResourceAudio), p + "/audio-2.wav");
    EXPECT_EQ(m->createPathForPackageResource(ZVFomixXResourceSystemAudio), p + "/systemaudio.wav");
    EXPECT_EQ(m->createPathForPackageResource(ZVFomixXResourceCursors), p + "/cursors.dat");
    // The movie is no track: nothing is registered and nothing is checked.
    EXPECT_EQ(m->createPathForPackageResource(ZVFomixXResourceMovie), p + "/movie.mov");
    EXPECT_EQ(m->pathForPackageResource(ZVFomixXResourceMovie), p + "/movie.mov");
    EXPECT_FALSE(fs::exists(p + "/video.fomix"));  // paths only, no files

    std::vector<std::string> expected = {"video:video:video.fomix",
                                         "video:video-1:video-1.fomix",
                                         "audio:audio-1:audio-1.wav",
                                         "audio:audio-2:audio-2.wav",
                                         "systemaudio:systemaudio:systemaudio.wav",
                                         "cursors:cursors:cursors.dat"};
    EXPECT_EQ(trackSummary(readInfo(p)), expected);
    EXPECT_EQ(trackSummary(m->infoDictionary()), expected);

    // A second manager finds the first track of each type from the file.
    auto reread = ZVFomixXManager::initWithFile(p);
    EXPECT_TRUE(reread->isPackage());
    EXPECT_FALSE(reread->isEarlierLayout());
    EXPECT_EQ(reread->pathForResource(ZVFomixXResourceVideo), p + "/video.fomix");
    EXPECT_EQ(reread->pathForResource(ZVFomixXResourceAudio), p + "/audio-1.wav");
    EXPECT_EQ(reread->pathForResource(ZVFomixXResourceMovie), p + "/movie.mov");
    // A listed name is skipped even when its file is gone.
    EXPECT_EQ(reread->createPathForPackageResource(ZVFomixXResourceVideo), p + "/video-2.fomix");
}

TEST(ZVFomixXManager, EarlierLayoutWithoutInfoPlist) {
    TempDir dir;
    const std::string p = dir.file("old.fomixx");
    fs::create_directory(p);
    auto m = ZVFomixXManager::initWithFile(p);
    EXPECT_TRUE(m->exists());
    EXPECT_TRUE(m->isEarlierLayout());
    EXPECT_EQ(trackSummary(m->infoDictionary()),
              (std::vector<std::string>{"video:video1:frames", "cursors:cursors1:cursors"}));
    EXPECT_EQ(m->pathForResource(ZVFomixXResourceVideo), p + "/frames");
    EXPECT_EQ(m->pathForResource(ZVFomixXResourceCursors), p + "/cursors");
    EXPECT_EQ(m->pathForResource(ZVFomixXResourceAudio), std::nullopt);
    EXPECT_FALSE(fs::exists(p + "/Info.plist"));  // held in memory only

    EXPECT_EQ(m->createPathForPackageResource(ZVFomixXResourceVideo), p + "/video.fomix");
    ZVValue info = readInfo(p);
    EXPECT_EQ(info.get("FomixX Version"), nullptr);
    EXPECT_EQ(trackSummary(info),
              (std::vector<std::string>{"video:video1:frames", "cursors:cursors1:cursors",
                                        "video:video:video.fomix"}));
}

// The exact messages, also of a readable Info.plist without a track list, are in
// ZVStorageMessagesTest; here, what the package does without a track list.
TEST(ZVFomixXManager, UnreadableInfoPlistIsReportedAndLeftAlone) {
    const std::string bytes = "bplist00\xd1\x01\x02";  // cut short
    TempDir dir;
    const std::string p = dir.file("bad.fomixx");
    fs::create_directory(p);
    writeText(p + "/Info.plist", bytes);
    auto m = ZVFomixXManager::initWithFile(p);
    EXPECT_TRUE(m->exists());
    EXPECT_TRUE(m->isPackage());
    EXPECT_NE(m->infoError(), "");
    EXPECT_EQ(m->pathForResource(ZVFomixXResourceVideo), std::nullopt);
    EXPECT_EQ(m->createPathForPackageResource(ZVFomixXResourceVideo), std::nullopt);
    m->setPropertie("Key", "value", ZVFomixXResourceVideo);
    EXPECT_EQ(readText(p + "/Info.plist"), bytes);  // never written over
    // The movie needs no track list.
    EXPECT_EQ(m->pathForResource(ZVFomixXResourceMovie), p + "/movie.mov");
    EXPECT_NE(ZVDescribeFomixX(*m).find(m->infoError()), std::string::npos);
}

TEST(ZVFomixXManager, TrackPathsStayInsideThePackage) {
    TempDir dir;
    const std::string p = dir.file("odd.fomixx");
    fs::create_directory(p);
    auto track = [](const char* type, ZVValue path) {
        ZVValue t = ZVValue::dict();
        t.set("Name", type);
        t.set("Type", type);
        t.set("Path", std::move(path));
        return t;
    };
    ZVValue info = ZVValue::dict();
    info.set("FomixX Version", "1.1");
    info.set("Host", "kept");
    info.set("Tracks", ZVValue::Array{track("video", "../../etc/passwd"),
                                      track("audio", int64_t(7)), ZVValue("not a dictionary")});
    ASSERT_TRUE(info.writeFile(p + "/Info.plist", false));

    auto m = ZVFomixXManager::initWithFile(p);
    EXPECT_EQ(m->infoError(), "");
    EXPECT_EQ(m->pathForResource(ZVFomixXResourceVideo), std::nullopt);
    EXPECT_EQ(m->pathForResource(ZVFomixXResourceAudio), std::nullopt);
    EXPECT_EQ(m->createPathForPackageResource(ZVFomixXResourceCursors), p + "/cursors.dat");
    EXPECT_EQ(m->tracks().size(), 4u);  // what it does not understand is kept
    EXPECT_NE(ZVDescribeFomixX(*m).find("\nproperty Host = "), std::string::npos);
}

TEST(ZVFomixXManager, PropertiesAndStartOffsetTimeRoundTrip) {
    TempDir dir;
    auto m = ZVFomixXManager::initWithFile(dir.file("rec.fomixx"));
    m->createFomixX();
    m->createPathForPackageResource(ZVFomixXResourceVideo);
    m->createPathForPackageResource(ZVFomixXResourceAudio);
    m->createPathForPackageResource(ZVFomixXResourceAudio);

    // Tracks that are not listed, and the movie, take no properties.
    m->setStartOffsetTime(1.5, ZVFomixXResourceSystemAudio);
    m->setStartOffsetTime(1.5, ZVFomixXResourceMovie);
    EXPECT_EQ(m->startOffsetTime(ZVFomixXResourceSystemAudio), std::nullopt);
    EXPECT_EQ(m->propertiesForResource(ZVFomixXResourceMovie), std::nullopt);
    EXPECT_EQ(m->startOffsetTime(ZVFomixXResourceVideo), std::nullopt);

    const double offset = 0.016683123456789012;
    m->setStartOffsetTime(offset, ZVFomixXResourceAudio);
    m->setStartOffsetTime(0.0, ZVFomixXResourceVideo);
    ZVValue extra = ZVValue::dict();
    extra.set("Device", "Built-in Microphone");
    extra.set("Rate", 44100);
    m->setPropertie("Recorder", extra, ZVFomixXResourceAudio);

    auto reread = ZVFomixXManager::initWithFile(m->path());
    EXPECT_EQ(reread->startOffsetTime(ZVFomixXResourceAudio), offset);  // exact
    EXPECT_EQ(reread->startOffsetTime(ZVFomixXResourceVideo), 0.0);
    auto props = reread->propertiesForResource(ZVFomixXResourceAudio);
    ASSERT_TRUE(props);
    EXPECT_EQ(props->get("Name")->stringValue(), "audio");  // the first audio track
    EXPECT_EQ(*props->get("Recorder"), extra);
    EXPECT_EQ(props->get("StartOffsetTime")->kind(), ZVValue::Kind::Real);
    // Only the first track of the type changed, and it kept its place.
    auto tracks = reread->tracks();
    ASSERT_EQ(tracks.size(), 3u);
    EXPECT_EQ(tracks[1].get("Name")->stringValue(), "audio");
    EXPECT_EQ(tracks[2].get("StartOffsetTime"), nullptr);

    // A value that is no number reads as none.
    reread->setPropertie("StartOffsetTime", "soon", ZVFomixXResourceVideo);
    EXPECT_EQ(reread->startOffsetTime(ZVFomixXResourceVideo), std::nullopt);
}

TEST(ZVFomixXManager, ExtractMovieMovesItBesideThePackage) {
    TempDir dir;
    auto m = ZVFomixXManager::initWithFile(dir.file("rec.fomixx"));
    m->createFomixX();
    EXPECT_EQ(m->extractMovie(), std::nullopt);  // no movie yet

    auto moviePath = m->pathForResource(ZVFomixXResourceMovie);
    ASSERT_TRUE(moviePath);
    writeText(*moviePath, "first movie");
    EXPECT_EQ(m->extractMovie(), dir.file("rec.mov"));
    EXPECT_FALSE(fs::exists(*moviePath));
    EXPECT_EQ(readText(dir.file("rec.mov")), "first movie");

    writeText(*moviePath, "second movie");
    EXPECT_EQ(m->extractMovie(), dir.file("rec-1.mov"));
    EXPECT_EQ(readText(dir.file("rec.mov")), "first movie");
    EXPECT_EQ(readText(dir.file("rec-1.mov")), "second movie");
}

TEST(ZVFomixXManager, FileSizeLeavesOutMovies) {
    TempDir dir;
    auto m = ZVFomixXManager::initWithFile(dir.file("rec.fomixx"));
    m->createFomixX();
    const std::string p = m->path();
    uint64_t info = fs::file_size(p + "/Info.plist");
    EXPECT_EQ(m->fileSize(), info);

    writeText(*m->createPathForPackageResource(ZVFomixXResourceVideo), std::string(1000, 'v'));
    writeText(*m->createPathForPackageResource(ZVFomixXResourceAudio), std::string(300, 'a'));
    writeText(p + "/movie.mov", std::string(5000, 'm'));
    fs::create_directory(p + "/extra");
    writeText(p + "/extra/notes.txt", std::string(20, 'n'));
    writeText(p + "/extra/preview.mov", std::string(7000, 'p'));
    writeText(p + "/extra/preview.MOV", std::string(11, 'p'));  // the extension is exact
    info = fs::file_size(p + "/Info.plist");
    EXPECT_EQ(m->fileSize(), info + 1000 + 300 + 20 + 11);
}

// The Trash lives under $XDG_DATA_HOME, which GLib reads once per process: one temporary
// home for the whole binary, on the same file system as the recordings (so GIO moves them
// into the home Trash rather than a .Trash-<uid> at the top of the file system).
const TempDir& trashHome() {
    static TempDir home;
    static bool set = [] {
        setenv("XDG_DATA_HOME", (home.path() + "/data").c_str(), 1);
        return true;
    }();
    (void)set;
    return home;
}

TEST(ZVFomixXManager, RemoveMovesThePackageToTheTrash) {
    const TempDir& home = trashHome();
    const std::string p = home.file("rec.fomixx");
    auto m = ZVFomixXManager::initWithFile(p);
    m->createFomixX();
    m->createPathForPackageResource(ZVFomixXResourceVideo);
    m->removeFomixX();
    EXPECT_FALSE(m->exists());
    EXPECT_FALSE(fs::exists(p));
    EXPECT_TRUE(fs::exists(home.file("data/Trash/files/rec.fomixx/Info.plist")));
    EXPECT_TRUE(fs::exists(home.file("data/Trash/info/rec.fomixx.trashinfo")));
    EXPECT_EQ(m->pathForResource(ZVFomixXResourceVideo), std::nullopt);
    {
        // Nor does it take properties: there is no Info.plist to write them to.
        LogCapture log;
        m->setStartOffsetTime(1, ZVFomixXResourceVideo);
        EXPECT_EQ(log.lines(), std::vector<std::string>{});
    }

    // Made again at the same path, not at a fresh name.
    m->createFomixX();
    EXPECT_EQ(m->path(), p);
    EXPECT_TRUE(fs::exists(p + "/Info.plist"));
}
