// zorvan record: records the screen into a recording package until a duration has passed,
// Ctrl-C or SIGTERM; everything queued is written before it exits.
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "Audio/ZVSystemSoundSupport.h"
#include "Foundation/ZVRunLoop.h"
#include "Platform/ZVPlatformDefaults.h"
#include "Session/ZVMicrophoneTrack.h"
#include "Session/ZVRecordingSession.h"
#include "Session/ZVScreenTrack.h"
#include "Session/ZVSystemAudioTrack.h"
#include "Storage/ZVFomixFormat.h"
#include "Video/ZVDisplayServer.h"
#include "Video/ZVHostApplication.h"
#include "ZVCommand.h"
#include "ZVStopSignals.h"

namespace {
constexpr const char* kName = "record";

// A Ctrl-C in the first moments, while the libraries are still starting up, must end in
// order too: for `zorvan record` the handlers go in as soon as the program's own static
// initialisation runs (glibc hands constructors the arguments), long before main.
__attribute__((constructor)) void catchEarly(int argc, char** argv) {
    if (argc > 1 && std::string_view(argv[1]) == kName) ZVCatchStopSignals();
}

struct Options {
    std::optional<std::string> rect;  // X11 geometry WxH+X+Y
    double duration = 0;              // 0: until a signal
    bool zlib = false;
    std::optional<std::string> mic;  // input device; "default" is the default one
    bool systemAudio = false;
    std::string output;
    ZVPlatformOptions platform;
};

std::optional<std::string> parse(const std::vector<std::string>& args, Options& o) {
    std::vector<ZVCommandOption> options = ZVCommandBackendOptions(o.platform);
    options.insert(
        options.end(),
        {{"--rect", [&](auto& v) { return (o.rect = v) ? nullptr : "--rect needs WxH+X+Y"; }},
         {"--duration",
          [&](auto& v) {
              auto seconds = ZVCommandPositiveNumber(v);
              o.duration = seconds.value_or(0);
              return seconds ? nullptr : "--duration needs a number of seconds above 0";
          }},
         {"--mic",
          [&](auto& v) {
              o.mic = v;
              return v && !v->empty() ? nullptr : "--mic needs a device name or 'default'";
          }},
         {"--system-audio", {}, &o.systemAudio},
         {"--zlib", {}, &o.zlib}});
    return ZVCommandParse(kName, args, options, "output path", o.output);
}

// The capture rectangle in desktop space: the primary monitor, or --rect (root-window
// geometry, as X11 users type it).
std::optional<ZVRect> captureRect(const Options& o, const ZVPlatformServices& services,
                                  std::string& error) {
    auto server = services.displayServer;
    if (error = server->unavailableReason(); !error.empty()) return std::nullopt;
    if (o.rect) {
        auto native = ZVParseNativeRect(*o.rect);
        if (!native) {
            error = "--rect '" + *o.rect + "' " + ZVCommandRectProblem(*o.rect, services);
            return std::nullopt;
        }
        const ZVRect rect = server->desktopRectFromNative(*native);
        // A frame buffer of that size could neither be held nor read back.
        if (double(rect.size.width) * double(rect.size.height) * 4 >
            double(kZVFomixMaxCanvasBytes)) {
            error = "--rect '" + *o.rect + "' is larger than a recording can hold";
            return std::nullopt;
        }
        bool onScreen = false;
        for (const auto& display : server->displays()) {
            const ZVRect shared = ZVIntersectionRect(display.frame, rect);
            onScreen = onScreen || (shared.size.width > 0 && shared.size.height > 0);
        }
        if (!onScreen) {
            error = "--rect '" + *o.rect + "' lies on no screen";
            return std::nullopt;
        }
        return rect;
    }
    auto displays = server->displays();  // primary first
    if (displays.empty()) {
        error = "the display server shows no display";
        return std::nullopt;
    }
    return displays.front().frame;
}

int run(const std::vector<std::string>& args) {
    ZVCatchStopSignals();

    Options o;
    if (auto error = parse(args, o)) return ZVCommandFail(kName, *error);
    std::string error;
    // On Wayland the portal is asked here, before the package exists: a refusal leaves
    // nothing behind.
    const ZVPlatformServices services = ZVCommandServices(kName, o.platform);
    auto rect = captureRect(o, services, error);
    if (!rect) return ZVCommandFail(kName, error);

    auto session = ZVRecordingSession::create(o.output, &error, services);
    if (!session) return ZVCommandFail(kName, error);
    session->addTrack(std::make_unique<ZVScreenTrack>(*rect, o.zlib));
    if (o.mic) session->addTrack(std::make_unique<ZVMicrophoneTrack>(*o.mic));
    if (o.systemAudio) {
        // An earlier recording that died with the output redirected is undone first.
        if (std::string undone = ZVSystemSoundSupport::restoreStaleRedirection(); !undone.empty())
            std::fprintf(stderr, "zorvan record: %s\n", undone.c_str());
        session->addTrack(std::make_unique<ZVSystemAudioTrack>());
    }
    error = session->prepare();
    if (!error.empty()) {
        session->stopAndWait();  // the session removes the package it made
        return ZVCommandFail(kName, error);
    }
    // Buttons and keys come from the display server's input events (the input devices on
    // Wayland), on a thread of their own; without them the recording goes on.
    std::string inputNotice;
    ZVSetSharedApplication(ZVCreatePlatformHostInput(&inputNotice));
    if (!inputNotice.empty()) std::fprintf(stderr, "zorvan record: %s\n", inputNotice.c_str());
    const bool live = isatty(STDERR_FILENO);
    if (std::string slow = session->waitingFor(); !slow.empty() && live)
        ZVShowStatusLine("waiting up to 2 s for " + slow + " to start");
    session->start();

    auto& loop = ZVRunLoop::main();
    double nextStatus = 0;
    std::string failure;
    bool recorderFailed = false;
    while (ZVStopSignal() == 0) {
        loop.runUntil([] { return ZVStopSignal() != 0; }, 0.05);
        double t = session->elapsed();
        if (o.duration > 0 && t >= o.duration) break;
        if (failure = session->writerFailure(); !failure.empty()) break;
        if (session->recordersAllFailed()) break;  // nothing is recorded any more
        if (std::string why = session->recorderFailure(); !why.empty() && !recorderFailed) {
            // A lost microphone ends its track only; the screen goes on being recorded.
            recorderFailed = true;
            std::fprintf(stderr, "%szorvan record: %s; recording goes on without it\n",
                         live ? "\r\033[K" : "", why.c_str());
        }
        if (live && t >= nextStatus) {
            ZVShowStatusLine(session->status());
            nextStatus = t + 0.25;
        }
    }
    std::string finalStatus = session->status();
    // While the writers drain, the status line goes on; one more signal ends at once.
    const int signalsBefore = ZVStopSignalCount();
    session->requestStop();
    while (!session->isFinished() && ZVStopSignalCount() == signalsBefore) {
        loop.runUntil([&] { return session->isFinished() || ZVStopSignalCount() != signalsBefore; },
                      0.25);
        if (live && !session->isFinished())
            ZVShowStatusLine("stopping, writing what is queued: " + session->status());
    }
    if (!session->isFinished()) {
        if (live) std::fputc('\n', stderr);
        ZVCommandFail(kName, "stopped before everything was written; 'zorvan repair " +
                                 session->path() + "' mends what was left open");
        std::fflush(nullptr);
        std::_Exit(1);  // the writers' threads are left running: no orderly teardown
    }
    error = session->finishError();
    ZVSetSharedApplication(nullptr);
    if (live) std::fprintf(stderr, "\r%s\033[K\n", finalStatus.c_str());
    for (const auto& line : session->report()) std::fprintf(stderr, "%s\n", line.c_str());
    if (!failure.empty())
        return ZVCommandFail(kName, failure + "; what was written is kept ('zorvan repair " +
                                        session->path() + "' mends what the stop left open)");
    if (!error.empty()) return ZVCommandFail(kName, error);
    std::printf("%s\n", session->path().c_str());
    return 0;
}

const ZVCommand::Registration reg(
    {kName, "record the screen into a recording package",
     "usage: zorvan record [--rect WxH+X+Y] [--duration S] [--zlib] [--mic DEVICE]\n"
     "                    [--system-audio] [--backend x11|wayland] [--ask] OUT.fomixx\n"
     "\n"
     "Records the screen, once per display refresh (at most 60 frames per second), into\n"
     "the recording package OUT.fomixx (the first free OUT-1.fomixx, ... when it exists;\n"
     "\".fomixx\" is added to a name without it, and a directory that is no package is\n"
     "refused) and prints the package's path. It stops after S seconds, on Ctrl-C or on\n"
     "SIGTERM, or when the display server goes away (the X server; on Wayland the\n"
     "compositor or PipeWire; exit status 1),\n"
     "and always writes every frame it captured before it exits. SIGHUP (the terminal\n"
     "closed) stops it like Ctrl-C; a second Ctrl-C while it writes what is queued ends\n"
     "at once (then 'zorvan repair' mends the package).\n"
     "\n"
     "  --rect WxH+X+Y  record this rectangle, in X11 root-window pixels (X, Y from the\n"
     "                  top-left corner); the whole primary monitor by default\n"
     "  --duration S    stop after S seconds\n"
     "  --zlib          store the frames' changed pixels zlib-compressed\n"
     "  --mic DEVICE    also record this input device (as 'zorvan devices' lists it;\n"
     "                  'default' is the default one) into the audio track, started in\n"
     "                  step with the screen; when it goes away while recording, its\n"
     "                  track ends there and the rest goes on (exit status 1)\n"
     "  --system-audio  also record what the machine plays, through the loopback device\n"
     "                  (see 'zorvan driver'), into the system-audio track; meanwhile the\n"
     "                  loopback device is the default output and its sound is played on\n"
     "                  to the previous default, which is the default again afterwards\n"
     "  --backend B     read the screen from the X server (x11) or through the desktop\n"
     "                  portal and PipeWire (wayland); by default the session's own\n"
     "                  (Wayland when WAYLAND_DISPLAY is set or XDG_SESSION_TYPE says so)\n"
     "  --ask           on Wayland, show the portal's sharing dialog even when the choice\n"
     "                  made there was kept (it is kept per desktop under\n"
     "                  $XDG_STATE_HOME/zorvan, so later recordings ask nothing)\n"
     "\n"
     "The package holds:\n"
     "  Info.plist   the track list; the video track's \"StartOffsetTime\" (seconds) is\n"
     "               how late the first frame came after the common start time;\n"
     "               \"DroppedFrames\" counts frames the disk could not take and\n"
     "               \"MissedFrames\" those never made while the recorder stalled (the\n"
     "               process stopped, the machine frozen). Every track's entry is kept up\n"
     "               to date while recording, so a crash leaves the tracks in step\n"
     "  video.fomix  the capture file: every frame with its pointer, buttons and keys\n"
     "  audio.wav    with --mic: the microphone, 16-bit stereo at 44100 Hz; its track's\n"
     "               \"StartOffsetTime\" is when the device captured its first sample,\n"
     "               after the common start time; sound the sound server reports lost\n"
     "               later is kept as silence of its length, so sample n was heard at\n"
     "               StartOffsetTime + n / rate; \"MeasuredSampleRate\" is the device's\n"
     "               real rate against the monotonic clock, for export to stretch the\n"
     "               sound to the picture; \"LostSoundCount\" and \"LostSoundSeconds\"\n"
     "               count the losses\n"
     "  systemaudio.wav  with --system-audio: the machine's sound, in the same format and\n"
     "               on the same time line\n"
     "  cursors.dat  the cursor list: a binary property list, an array of dictionaries\n"
     "               {\"Id\" integer, \"Info\" data (the 44-byte cursor record), \"Data\"\n"
     "               data (the cursor's BGRA pixels)}; a frame names its cursor by \"Id\",\n"
     "               0x7FFFFFFF when no cursor showed\n"
     "\n"
     "At the end one line per audio track on standard error gives its start offset, its\n"
     "length against the screen track's, and \"no sound lost\" or how much sound the\n"
     "server lost and where; a line for the screen tells of stalls and frames the disk\n"
     "dropped, when there were any.\n"
     "\n"
     "A live status line (time, frames, frames per second, queue fill) is shown on a\n"
     "terminal. Keys and buttons are recorded when the X server has XInput 2.2.\n",
     run});
}  // namespace
