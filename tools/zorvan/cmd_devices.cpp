// zorvan devices: the audio devices as the microphone recorder sees them, default first.
#include <cstdio>

#include "ZVCommand.h"
#include "Zorvan.h"

namespace {
int run(const std::vector<std::string>& args) {
    bool input = true;
    for (const std::string& a : args) {
        if (a == "--output")
            input = false;
        else
            return ZVCommandFail("devices",
                                 "unknown argument '" + a + "' (see 'zorvan devices --help')");
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
     "usage: zorvan devices [--output]\n\n"
     "Lists the audio input devices by the names the microphone recorder opens them by,\n"
     "one a line, the default device first. A device with several inputs (ports) is\n"
     "listed once per input as \"device: input\"; those entries name a selection, not a\n"
     "device that can be opened.\n\n"
     "  --output   list the output devices instead\n",
     run});
}  // namespace
