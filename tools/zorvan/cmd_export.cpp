// zorvan export: turns a recording into a movie beside it (or where -o says, of the kind its
// extension names; the export session chooses and refuses by the name).
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>

#include "Media/ZVCodecSettings.h"
#include "Media/ZVEncodingPreset.h"
#include "Media/ZVTerminalSettingsDialog.h"
#include "Session/ZVExportSession.h"
#include "ZVCommand.h"
#include "ZVStopSignals.h"
#include "Zorvan.h"

namespace {
const char* kName = "export";

struct Options {
    std::string package;
    std::string output;
    std::string presetPath;
    std::optional<std::string> videoCodec, audioCodec, size, zoom;
    std::optional<double> fps, scale;
    std::vector<std::pair<std::string, std::string>> videoOptions;
    bool noCursor = false, noClicks = false, noKeys = false, noAudio = false, noSystemAudio = false;
    bool noKeyTrack = false, noChapters = false;
};

std::optional<std::string> parse(const std::vector<std::string>& args, Options& o) {
    auto path = [](std::string& to, const char* problem) {
        return [&to, problem](const std::optional<std::string>& v) {
            to = v.value_or("");
            return to.empty() ? problem : nullptr;
        };
    };
    auto number = [](std::optional<double>& to, const char* problem) {
        return [&to, problem](const std::optional<std::string>& v) {
            return (to = ZVCommandPositiveNumber(v)) ? nullptr : problem;
        };
    };
    if (auto problem = ZVCommandParse(
            kName, args,
            {{"-o", path(o.output, "-o needs a movie path (.mov, .mp4, .webm or .gif)")},
             {"--preset", path(o.presetPath, "--preset needs a preset file")},
             {"--video-codec",
              [&](auto& v) {
                  o.videoCodec = v;
                  return v && ZVVideoCodecForKey(*v)
                             ? nullptr
                             : "--video-codec needs h264, hevc, prores, animation, png or mjpeg";
              }},
             {"--audio-codec",
              [&](auto& v) {
                  o.audioCodec = v;
                  return v && ZVSoundFormatForKey(*v) ? nullptr
                                                      : "--audio-codec needs aac, alac or pcm";
              }},
             {"--video-option",
              [&](auto& v) {
                  const size_t eq = v ? v->find('=') : std::string::npos;
                  if (eq == std::string::npos || eq == 0) return "--video-option needs NAME=VALUE";
                  o.videoOptions.emplace_back(v->substr(0, eq), v->substr(eq + 1));
                  return static_cast<const char*>(nullptr);
              }},
             {"--fps", number(o.fps, "--fps needs a number of frames per second above 0")},
             {"--scale", number(o.scale, "--scale needs a percentage above 0")},
             {"--size", [&](auto& v) { return (o.size = v) ? nullptr : "--size needs WxH"; }},
             {"--zoom",
              [&](auto& v) {
                  return (o.zoom = v) && !v->empty() ? nullptr
                                                     : "--zoom needs auto, off or a plan file";
              }},
             {"--no-cursor", {}, &o.noCursor},
             {"--no-clicks", {}, &o.noClicks},
             {"--no-keys", {}, &o.noKeys},
             {"--no-audio", {}, &o.noAudio},
             {"--no-system-audio", {}, &o.noSystemAudio},
             {"--no-key-track", {}, &o.noKeyTrack},
             {"--no-chapters", {}, &o.noChapters}},
            "recording", o.package))
        return problem;
    const bool inline_ =
        o.videoCodec || o.audioCodec || o.size || o.fps || o.scale || !o.videoOptions.empty();
    if (!o.presetPath.empty() && inline_)
        return "--preset cannot be combined with codec or size options";
    if (o.size && o.scale) return "--size and --scale cannot be combined";
    while (o.package.size() > 1 && o.package.back() == '/') o.package.pop_back();
    return std::nullopt;
}

std::shared_ptr<ZVEncodingPreset> makePreset(const Options& o, std::string& error) {
    if (!o.presetPath.empty()) return ZVEncodingPreset::readFile(o.presetPath, error);
    auto preset = ZVEncodingPreset::initWithName("zorvan export");
    ZVCodecSettings video(ZVCodecSettingsKind::video);
    if (o.videoCodec) video.setCodecType(*ZVVideoCodecForKey(*o.videoCodec));
    if (o.fps) video.setFrameRate(ZVDoubleToFixed(*o.fps));
    for (const auto& [name, v] : o.videoOptions) video.setCodecOption(name, v);
    preset->setVideoSettings(video.save());
    ZVCodecSettings sound(ZVCodecSettingsKind::sound);
    if (o.audioCodec) sound.setSoundFormat(*ZVSoundFormatForKey(*o.audioCodec));
    preset->setSoundSettings(sound.save());
    if (o.scale) preset->setVideoScale(*o.scale);
    if (o.size) {
        int w = 0, h = 0;
        char tail = 0;
        const std::string given = "--size '" + *o.size + "' ";
        if (std::sscanf(o.size->c_str(), "%dx%d%c", &w, &h, &tail) != 2) {
            error = given + "is not WxH (whole pixels, such as 1280x720)";
        } else if (w < 2 || h < 2) {
            error = given + "is too small: each side needs at least 2 pixels";
        } else if (w > 16384 || h > 16384) {
            error = given + "is too large: each side may have at most 16384 pixels";
        }
        if (!error.empty()) return nullptr;
        preset->setVideoScaleMode(1);
        preset->setVideoDimensions(ZVSize{float(w), float(h)});
    }
    return preset;
}

std::string clock(double seconds) {
    const int s = static_cast<int>(std::lround(std::max(seconds, 0.0)));
    return ZVFormat("%d:%02d", s / 60, s % 60);
}

std::string progressLine(const ZVExportSession::Progress& p) {
    constexpr int kWidth = 30;
    const double part = p.framesTotal > 0 ? double(p.framesDone) / double(p.framesTotal) : 0;
    const int filled = std::min(kWidth, static_cast<int>(part * kWidth));
    std::string bar(static_cast<size_t>(filled), '#');
    bar.resize(kWidth, ' ');
    std::string line =
        ZVFormat("[%s] %lld/%lld frames", bar.c_str(), static_cast<long long>(p.framesDone),
                 static_cast<long long>(p.framesTotal));
    if (p.speed > 0) line += ZVFormat("  %.1fx  %s left", p.speed, clock(p.secondsLeft).c_str());
    return line;
}

// What the bar gives way to: the movie's size and how long it plays.
std::string finalLine(const ZVExportSession& session) {
    std::error_code failed;
    const auto bytes = std::filesystem::file_size(session.moviePath(), failed);
    const double length = session.movieLength();
    return ZVFormat("%s: %.1f MB, %s.%02d long", session.moviePath().c_str(),
                    failed ? 0.0 : double(bytes) / 1e6, clock(std::floor(length)).c_str(),
                    int(std::fmod(length, 1.0) * 100));
}

int run(const std::vector<std::string>& args) {
    // A stop signal cancels the export; the movie's failure line follows.
    ZVCatchStopSignals();

    Options o;
    if (auto error = parse(args, o)) return ZVCommandFail(kName, *error);
    std::string error;
    auto preset = makePreset(o, error);
    if (!preset) return ZVCommandFail(kName, error);
    if (o.noCursor) preset->setIncludesCursorTrack(false);
    if (o.noClicks) preset->setShowsMouseClicks(false);
    if (o.noKeys) preset->setShowsKeysPressed(false);
    if (o.noAudio) preset->setIncludesAudioTrack(false);
    if (o.noSystemAudio) preset->setIncludesSystemAudio(false);
    if (o.noKeyTrack) preset->setIncludesKeyTrack(false);
    if (o.noChapters) preset->setIncludesChapters(false);

    // Alerts are this command's failure line, not a second message.
    ZVSetAlertHandler([](const std::string&, const std::string&) {});
    auto session = ZVExportSession::create(o.package, *preset, &error);
    if (!session) return ZVCommandFail(kName, error);
    if (!session->notice().empty())
        std::fprintf(stderr, "zorvan %s: %s\n", kName, session->notice().c_str());
    if (!o.output.empty()) session->setOutputPath(o.output);
    // A plan that does not fit is refused here, before anything is written.
    if (o.zoom)
        if (error = session->setZoom(*o.zoom); !error.empty()) return ZVCommandFail(kName, error);
    // A refused start runs nothing and leaves no movie: there is nothing to wait for.
    if (error = session->start(); !error.empty()) return ZVCommandFail(kName, error);

    const bool live = isatty(STDERR_FILENO);
    auto& loop = ZVRunLoop::main();
    bool cancelled = false;
    while (!session->isFinished()) {
        loop.runUntil([&] { return session->isFinished() || ZVStopSignal() != 0; }, 0.25);
        if (ZVStopSignal() != 0 && !cancelled) {
            session->cancel();
            cancelled = true;
        }
        if (live) ZVShowStatusLine(progressLine(session->progress()));
    }
    const bool done = session->finishError().empty();
    if (live && done) ZVShowStatusLine(finalLine(*session));
    if (live) std::fprintf(stderr, "\n");
    if (!done) return ZVCommandFail(kName, session->finishError());
    std::printf("%s\n", session->moviePath().c_str());
    return 0;
}

const ZVCommand::Registration reg(
    {kName, "export a recording into a movie (QuickTime, MP4, WebM or GIF)",
     "usage: zorvan export RECORDING [-o OUT.mov|.mp4|.webm|.gif] [--preset FILE |\n"
     "         [--video-codec C] [--video-option NAME=VALUE]... [--fps N]\n"
     "         [--scale P | --size WxH] [--audio-codec C]]\n"
     "         [--no-cursor] [--no-clicks] [--no-keys] [--no-audio] [--no-system-audio]\n"
     "         [--no-key-track] [--no-chapters]\n"
     "         [--zoom auto|off|PLAN]\n"
     "\n"
     "Plays the recording (a package made by 'zorvan record', or a plain capture file)\n"
     "back, draws the cursor, a mark for pressed buttons and the pressed keys into its\n"
     "frames, compresses them and writes them with the recorded sound into a movie. The\n"
     "movie goes beside the recording (NAME.mov, the first free NAME-1.mov, ...) unless\n"
     "-o names it; its path is printed. Each sound track starts where its recording\n"
     "started against the screen; none of it is cut. A recording that was not closed (its\n"
     "recorder crashed, or it is still recording) is exported up to its last whole frame.\n"
     "The movie is written under a hidden temporary name in its folder and renamed when\n"
     "it is whole. A preset without video makes a movie of the sound tracks alone. The\n"
     "movie's index comes first and its tracks are interleaved, so a browser plays it\n"
     "while it loads.\n"
     "\n"
     "  -o OUT.mov          write the movie here (an existing file is replaced); the\n"
     "                      extension chooses the kind: .mov QuickTime, .mp4 MP4 (both\n"
     "                      with the codecs chosen), .webm VP9 + Opus, .gif an animated\n"
     "                      GIF without sound (at most 15 frames a second unless --fps\n"
     "                      says; for short clips)\n"
     "  --preset FILE       the export preset ('zorvan preset new' makes one)\n"
     "  --video-codec C     h264 (default), hevc, prores, animation, png or mjpeg\n"
     "  --video-option NAME=VALUE  an option of the video encoder (preset=veryfast)\n"
     "  --fps N             a constant rate: every frame is encoded, at N x 100 ticks a\n"
     "                      second (without it, frames that repeat the one before are\n"
     "                      left out and the picture before lasts longer)\n"
     "  --scale P           the picture at P %% of the recorded size (default 100)\n"
     "  --size WxH          the picture fitted into W x H (letterboxed)\n"
     "  --audio-codec C     aac (default, 128 kbit/s), alac or pcm; 44100 Hz stereo\n"
     "  --no-cursor, --no-clicks, --no-keys  leave that overlay out\n"
     "  --no-audio          no sound tracks; --no-system-audio: no system-audio track\n"
     "  --no-key-track      no text track of the keys pressed (a .mov, .mp4 or .webm\n"
     "                      that shows the keys has one, for players to switch on)\n"
     "  --no-chapters       no chapter at each click and shortcut (made when the keys\n"
     "                      are shown)\n"
     "  --zoom auto|off|PLAN  the camera: 'auto' zooms in ahead of each click and burst\n"
     "                      of typing and glides back out, PLAN is a plan file ('zorvan\n"
     "                      zoom' writes one; edit it and export again), 'off' shows the\n"
     "                      whole picture (the default unless the preset says \"Zoom\"\n"
     "                      \"auto\"); a plan that does not fit is refused before anything\n"
     "                      is written\n"
     "\n"
     "A progress bar (frames, speed as a multiple of real time, time left) is shown on a\n"
     "terminal. Ctrl-C cancels the export and leaves no movie behind.\n",
     run});
}  // namespace
