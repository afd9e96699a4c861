// `zorvan export` of every kind of damaged package that repair meets: a capture file that
// its writer never closed is exported up to its last whole record with a line that says
// so; anything else that cannot be read ends with one line and exit status 1. Never a
// signal, and never a movie or a temporary file left behind by a failed export.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "Audio/ZVWavHeader.h"
#include "Export/ZVExportTestSupport.h"
#include "Media/ZVEncodingPreset.h"
#include "Storage/ZVCursorListFile.h"
#include "Storage/ZVFomixTestFiles.h"
#include "Storage/ZVFomixXManager.h"
#include "support/ZVZorvanProcess.h"

using namespace zvtest;

namespace {

constexpr int kFrames = 8;  // 0.1 s apart from 0

struct Recording {
    Bytes file;
    std::vector<size_t> starts;  // where each record begins
};

// Eight frames of 40x30, every other one compressed with a key chunk.
const Recording& recording() {
    static Recording r = [] {
        std::vector<std::shared_ptr<ZVMovieFrame>> frames;
        for (int i = 0; i < kFrames; ++i)
            frames.push_back(patternFrame(40, 30, uint32_t(i + 1), 0.1 * i,
                                          i % 2 ? kZVFrameHasKeyStrokes | kZVFrameCompress : 0));
        Recording rec{recordBytes(frames), {}};
        for (const ReadFrame& f : readAll(rec.file).frames) rec.starts.push_back(f.start);
        return rec;
    }();
    return r;
}

Bytes cut(const Bytes& b, size_t size) {
    return Bytes(b.begin(), b.begin() + std::min(size, b.size()));
}

Bytes withWord(Bytes b, size_t at, uint32_t value) {
    setWord(b, at, value);
    return b;
}

// The 44-byte header a WAV writer writes first: 16-bit stereo at 44100 Hz and no sound.
Bytes emptyWav() {
    const ZVSoundFormat format{2, 16, 44100, kZVSoundFormatSignedInteger};
    return ZVWavHeader::bytes(ZVWavHeader::records(format, 0), ZVWavHeader::layoutFor(format));
}

struct Case {
    const char* what;
    std::function<void(const std::string& package)> damage;
    int status;        // 0: a movie; 1: one line
    std::string line;  // the line on standard error after "zorvan export: " ("@" for the
                       // package), "" for none or (status 1) any
};

void writeSquareWav(const std::string& path) {
    writeWav(path, 44100, [](int i) { return int16_t(i % 100 < 50 ? 8000 : -8000); });
}

void putCapture(const std::string& package, const Bytes& bytes) {
    writeBytes(package + "/video.fomix", bytes);
}

}  // namespace

TEST(ExportDamagedCli, EachDamagedPackageGivesAMovieOrOneLine) {
    const Recording& r = recording();
    ASSERT_EQ(r.starts.size(), size_t(kFrames));
    const size_t last = r.starts.back();
    const Case cases[] = {
        {"whole", [](const std::string&) {}, 0, ""},
        {"unclosed, whole", [&](const std::string& p) { putCapture(p, unfinished(r.file)); }, 0,
         "the recording was not closed: exporting the 0.70 s that are there; run zorvan "
         "repair to keep it"},
        // One tear will do: ZVFomixRepairTest cuts the reader's input at every byte.
        {"unclosed, torn in its last payload",
         [&](const std::string& p) { putCapture(p, unfinished(cut(r.file, r.file.size() - 1))); },
         0,
         "the recording was not closed: exporting the 0.60 s that are there; run zorvan "
         "repair to keep it"},
        {"unclosed, no record", [&](const std::string& p) { putCapture(p, Bytes(28, 0)); }, 1,
         "@/video.fomix: the recording was not closed and holds no whole frame"},
        {"shorter than a header",
         [&](const std::string& p) {
             putCapture(p, Bytes{'h', 'i'});
         },
         1, ""},
        {"zero header, then text",
         [&](const std::string& p) {
             Bytes b(28, 0);
             for (int i = 0; i < 4000; ++i) b.push_back(uint8_t('a' + i % 26));
             putCapture(p, b);
         },
         1, ""},
        {"unclosed, implausible first record",
         [&](const std::string& p) { putCapture(p, withWord(unfinished(r.file), 32, 0x7FFFFFF0)); },
         1, ""},
        {"unclosed, a record in the middle swallows the next",
         [&](const std::string& p) {
             putCapture(p, withWord(unfinished(r.file), r.starts[3] + 4,
                                    uint32_t(r.starts[5] - r.starts[3])));
         },
         1,
         "@/video.fomix: the recording was not closed and record 4 is damaged (compressed "
         "block data does not inflate); run zorvan repair first"},
        {"closed, a record in the middle of another size",
         [&](const std::string& p) {
             putCapture(p, withWord(r.file, r.starts[3] + 16, 0xFFFFFFFF));
         },
         1, ""},
        {"closed, cut after its header was written",
         [&](const std::string& p) { putCapture(p, cut(r.file, last + 20)); }, 1, ""},
        {"no Info.plist", [](const std::string& p) { std::filesystem::remove(p + "/Info.plist"); },
         1, ""},
        {"Info.plist junk", [](const std::string& p) { writeText(p + "/Info.plist", "junk"); }, 1,
         "@/Info.plist: not a property list ('zorvan repair @' lists its tracks anew)"},
        {"empty 44-byte WAV",
         [](const std::string& p) { writeBytes(p + "/audio.wav", emptyWav()); }, 0, ""},
        {"WAV cut to 20 bytes",
         [](const std::string& p) { writeBytes(p + "/audio.wav", cut(emptyWav(), 20)); }, 1, ""},
        {"WAV garbage header",
         [](const std::string& p) { writeBytes(p + "/audio.wav", Bytes(4096, 0x5A)); }, 1, ""},
        {"cursors.dat junk", [](const std::string& p) { writeText(p + "/cursors.dat", "junk"); }, 0,
         ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        auto package = ZVFomixXManager::initWithFile(dir.file("take.fomixx"));
        package->createFomixX();
        writeBytes(*package->createPathForPackageResource(ZVFomixXResourceVideo), r.file);
        writeSquareWav(*package->createPathForPackageResource(ZVFomixXResourceAudio));
        ZVCursorListFile::write(*package->createPathForPackageResource(ZVFomixXResourceCursors),
                                {});
        c.damage(package->path());
        // No key strip: fontconfig (not built with the sanitizers) keeps what pango loads
        // for the life of the process, which LeakSanitizer would take for a leak.
        Zorvan ex(dir, {"export", "--no-keys", package->path(), "-o", dir.file("out.mov")});
        const int status = ex.wait(120);
        ASSERT_EQ(status, c.status) << ex.err();
        std::string line = c.line;
        for (size_t at; (at = line.find('@')) != std::string::npos;)
            line.replace(at, 1, package->path());
        if (!line.empty() || status == 0) {
            EXPECT_EQ(ex.err(), line.empty() ? "" : "zorvan export: " + line + "\n");
        }
        if (status == 0) {
            const auto streams = probeMovie(dir.file("out.mov"));
            ASSERT_FALSE(streams.empty());
            EXPECT_EQ(streams[0].type, "video");
            EXPECT_GT(streams[0].frames, 0);
        } else {
            const std::string err = ex.err();
            EXPECT_EQ(err.rfind("zorvan export: ", 0), 0u) << err;
            EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
            EXPECT_FALSE(std::filesystem::exists(dir.file("out.mov")));
        }
        // Nothing is left half-written: no temporary movie beside the output.
        for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
            EXPECT_NE(entry.path().filename().string()[0], '.') << entry.path();
    }
}

// What can be told before encoding is: a bad size, an output that cannot be written where
// it is asked for, a preset that leaves nothing to export. A movie written on another file
// system than the package's, and one of the sound alone, are made.
TEST(ExportDamagedCli, RefusalsComeBeforeEncodingAndTheMovieGoesWhereAsked) {
    TempDir dir;
    const std::string package = dir.file("take.fomixx");
    auto made = ZVFomixXManager::initWithFile(package);
    made->createFomixX();
    writeBytes(*made->createPathForPackageResource(ZVFomixXResourceVideo), recording().file);
    auto noVideo = ZVEncodingPreset::initWithName("sound only");
    noVideo->setIncludesVideoTrack(false);
    ASSERT_TRUE(noVideo->dictRepresentation().writeFile(dir.file("sound.plist"), false));
    std::filesystem::create_directories(dir.file("folder.mov"));
    writeText(dir.file("plain"), "a file");
    char shm[] = "/dev/shm/zvtest-XXXXXX";  // another file system than the package's
    ASSERT_TRUE(mkdtemp(shm));
    const std::string elsewhere = std::string(shm) + "/out.mov";

    struct Row {
        std::vector<std::string> args;
        std::string out;   // the movie made, or "" for a refusal
        std::string line;  // the refusal's line
    } rows[] = {
        {{"--size", "1x1"}, "", "--size '1x1' is too small: each side needs at least 2 pixels"},
        {{"--size", "99999x10"},
         "",
         "--size '99999x10' is too large: each side may have at most 16384 pixels"},
        {{"--size", "big"}, "", "--size 'big' is not WxH (whole pixels, such as 1280x720)"},
        {{"-o", dir.file("folder.mov")},
         "",
         dir.file("folder.mov") + ": is a directory, not a movie file"},
        {{"-o", dir.file("missing/out.mov")},
         "",
         "cannot write the movie into " + dir.file("missing") + ": No such file or directory"},
        {{"-o", dir.file("plain/out.mov")},
         "",
         "cannot write the movie into " + dir.file("plain") + ": Not a directory"},
        {{"--preset", dir.file("sound.plist")},
         "",
         "the preset leaves the video out and the recording has no sound to export"},
        {{"-o", elsewhere}, elsewhere, ""},
        {{}, dir.file("take.mov"), ""},  // beside the package
    };
    for (const Row& row : rows) {
        std::vector<std::string> args = {"export", "--no-keys", package};
        args.insert(args.end(), row.args.begin(), row.args.end());
        SCOPED_TRACE(args.back());
        Zorvan ex(dir, args);
        if (row.out.empty()) {
            EXPECT_EQ(ex.wait(30), 1);
            EXPECT_EQ(ex.err(), "zorvan export: " + row.line + "\n");
        } else {
            ASSERT_EQ(ex.wait(120), 0) << ex.err();
            EXPECT_EQ(ex.out(), row.out + "\n");
            EXPECT_EQ(probeMovie(row.out).size(), 1u);
        }
    }
    std::filesystem::remove_all(shm);
    EXPECT_FALSE(std::filesystem::exists(package + "/movie.mov"));

    // With a microphone track, the preset without video makes a movie of the sound alone.
    writeSquareWav(*made->createPathForPackageResource(ZVFomixXResourceAudio));
    Zorvan sound(
        dir, {"export", package, "--preset", dir.file("sound.plist"), "-o", dir.file("sound.mov")});
    ASSERT_EQ(sound.wait(60), 0) << sound.err();
    const auto streams = probeMovie(dir.file("sound.mov"));
    ASSERT_EQ(streams.size(), 1u);
    EXPECT_EQ(streams[0].type, "audio");
    EXPECT_NEAR(streams[0].duration, 1.0, 0.05);
}

// `record` and `export` read their words alike: a wrong one is named, before anything starts
// (no X server or sound server is needed to be refused).
TEST(ExportDamagedCli, WrongWordsOfRecordAndExportAreNamed) {
    const std::pair<std::string, std::string> rows[] = {
        {"record --bogus x", "record: unknown option --bogus (see 'zorvan record --help')"},
        {"record a b", "record: more than one output path given"},
        {"record --mic", "record: --mic needs a device name or 'default'"},
        {"export --fps 0 p", "export: --fps needs a number of frames per second above 0"},
        {"export - -", "export: more than one recording given"},
        {"export --video-option =x p", "export: --video-option needs NAME=VALUE"},
        {"export --no-keys --nope", "export: unknown option --nope (see 'zorvan export --help')"},
        {"export --preset p.plist --fps 5 p",
         "export: --preset cannot be combined with codec or size options"},
    };
    for (const auto& [line, says] : rows) {
        const ZorvanRun run = runZorvanLine(line);
        EXPECT_EQ(run.status, 1) << line;
        EXPECT_EQ(run.err, "zorvan " + says + "\n");
    }
}
