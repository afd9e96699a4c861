// zorvan devices: the audio devices as the microphone recorder sees them, default first.
#include <cstdio>

#include "ZVCommand.h"
#include "Zorvan.h"

namespace {
int run(const std::vector<std::string>& args) {
    bool input = true, screens = false;
    ZVPlatformOptions platform;
    const auto backend = ZVCommandBackendOptions(platform);
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--output") {
            input = false;
        } else if (a == "--screens") {
            screens = true;
        } else if (a == "--backend") {
            auto value = i + 1 < args.size() ? std::optional(args[++i]) : std::nullopt;
            if (const char* wrong = backend[0].take(value)) return ZVCommandFail("devices", wrong);
        } else {
            return ZVCommandFail("devices",
                                 "unknown argument '" + a + "' (see 'zorvan devices --help')");
        }
    }
    if (screens) {
        std::string error;
        const auto lines = ZVPlatformScreenLines(platform, &error);
        if (lines.empty()) return ZVCommandFail("devices", error.empty() ? "no screens" : error);
        for (const std::string& line : lines) std::printf("%s\n", line.c_str());
        return 0;
    }
    std::vector<std::string> names = ZVSoundInputRecorder::availableDevicesIsInput(input);
    if (names.empty())
        return ZVCommandFail("devices", std::string("no ") + (input ? "input" : "output") +
                                            " devices (is a PulseAudio server running?)");
    for (const std::string& name : names) std::printf("%s\n", name.c_str());
    return 0;
}

const ZVCommand::Registration reg(
    {"devices", "list the audio input (or output) devices, the default first",
     "usage: zorvan devices [--output | --screens [--backend x11|wayland]]\n\n"
     "Lists the audio input devices by the names the microphone recorder opens them by,\n"
     "one a line, the default device first. A device with several inputs (ports) is\n"
     "listed once per input as \"device: input\"; those entries name a selection, not a\n"
     "device that can be opened.\n\n"
     "  --output   list the output devices instead\n"
     "  --screens  list the screens instead: the X11 monitors (\"NAME WxH+X+Y\", as --rect\n"
     "             takes them), or on Wayland what the desktop portal offers to share\n"
     "             (the screen itself is chosen in its dialog when recording starts)\n"
     "  --backend  as for 'zorvan record'\n",
     run});
}  // namespace
