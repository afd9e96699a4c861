// zorvan preset: makes, shows and edits export presets kept as property-list files.
#include <sys/stat.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <iterator>

#include "Media/ZVCodecSettings.h"
#include "Media/ZVEncodingPreset.h"
#include "Media/ZVTerminalSettingsDialog.h"
#include "ZVCommand.h"
#include "Zorvan.h"

namespace {
const char* kName = "preset";

std::string sizeText(const ZVEncodingPreset& p) {
    if (p.videoScaleMode() == 0) return ZVFormat("%g %% of the recording", p.videoScale());
    ZVSize d = p.videoDimensions();
    return ZVFormat("%g x %g", d.width, d.height);
}

std::string settingsText(ZVCodecSettingsKind kind, const std::optional<ZVSettingsHandle>& h) {
    ZVCodecSettings s(kind);
    if (h && s.load(*h) != 0) return "damaged (" + s.loadError() + ")";
    std::string text;
    if (kind == ZVCodecSettingsKind::video) {
        text = ZVVideoCodecName(s.codecType()) + ZVFormat(", quality %d", s.quality());
        if (s.frameRate() > 0) text += ZVFormat(", %g frames/s", ZVFixedToDouble(s.frameRate()));
        if (s.keyFrameInterval() > 0)
            text += ZVFormat(", key frame every %d", s.keyFrameInterval());
        if (s.bitRate() > 0) text += ZVFormat(", %lld kbit/s", (long long)(s.bitRate() / 1000));
    } else {
        const ZVAudioStreamDescription& d = s.outputDescription();
        text = ZVSoundFormatName(d.formatID) +
               ZVFormat(", %g Hz, %u channels", d.sampleRate, d.channelsPerFrame);
    }
    for (const auto& [k, v] : s.codecOptions()) text += ", " + k + "=" + v;
    return h ? text : text + " (defaults)";
}

const char* shown(bool on) {
    return on ? "yes" : "no";
}

struct Toggle {
    const char* label;
    bool (ZVEncodingPreset::*get)() const;
    void (ZVEncodingPreset::*set)(bool);
};
const Toggle kToggles[] = {
    {"video track", &ZVEncodingPreset::includesVideoTrack,
     &ZVEncodingPreset::setIncludesVideoTrack},
    {"cursor", &ZVEncodingPreset::includesCursorTrack, &ZVEncodingPreset::setIncludesCursorTrack},
    {"mouse clicks", &ZVEncodingPreset::showsMouseClicks, &ZVEncodingPreset::setShowsMouseClicks},
    {"keys pressed", &ZVEncodingPreset::showsKeysPressed, &ZVEncodingPreset::setShowsKeysPressed},
    {"audio", &ZVEncodingPreset::includesAudioTrack, &ZVEncodingPreset::setIncludesAudioTrack},
    {"system audio", &ZVEncodingPreset::includesSystemAudio,
     &ZVEncodingPreset::setIncludesSystemAudio},
    {"microphone", &ZVEncodingPreset::includesExternalAudio,
     &ZVEncodingPreset::setIncludesExternalAudio},
};
constexpr int kToggleCount = sizeof kToggles / sizeof kToggles[0];
// The movie's own text, made when keys are shown; listed after the codec settings, so the
// numbers of the items above stay as they were.
const Toggle kTextToggles[] = {
    {"key track", &ZVEncodingPreset::includesKeyTrack, &ZVEncodingPreset::setIncludesKeyTrack},
    {"chapters", &ZVEncodingPreset::includesChapters, &ZVEncodingPreset::setIncludesChapters},
};
constexpr int kTextToggleCount = sizeof kTextToggles / sizeof kTextToggles[0];
// The camera's numbers, asked for after the codec settings; the preset's key checks them.
struct Number {
    const char* label;
    const char* key;
    double (ZVEncodingPreset::*get)() const;
    void (ZVEncodingPreset::*set)(double);
};
const Number kNumbers[] = {
    {"zoom level", "ZoomLevel", &ZVEncodingPreset::zoomLevel, &ZVEncodingPreset::setZoomLevel},
    {"zoom hold (s)", "ZoomHold", &ZVEncodingPreset::zoomHold, &ZVEncodingPreset::setZoomHold},
    {"cursor smoothing (s)", "CursorSmoothing", &ZVEncodingPreset::cursorSmoothing,
     &ZVEncodingPreset::setCursorSmoothing},
    {"cursor scale", "CursorScale", &ZVEncodingPreset::cursorScale,
     &ZVEncodingPreset::setCursorScale},
    {"hide idle cursor (s)", "HideIdleCursor", &ZVEncodingPreset::hideIdleCursor,
     &ZVEncodingPreset::setHideIdleCursor},
};
// A new value for `number`; the line that says why not when it is refused.
std::string changeNumber(ZVEncodingPreset& p, const Number& number, const std::string& text) {
    char* end = nullptr;
    const double v = std::strtod(text.c_str(), &end);
    ZVValue probe = ZVValue::dict();
    if (end == text.c_str() || *end) return "Not a number: " + text;
    probe.set(number.key, v);
    if (std::string problem = ZVEncodingPreset::cameraProblem(probe); !problem.empty())
        return problem;
    (p.*number.set)(v);
    return {};
}

void show(const ZVEncodingPreset& p, bool numbered) {
    int n = 1;
    auto line = [&](const char* label, const std::string& value) {
        if (numbered)
            std::printf("  %2d %-15s %s\n", n++, label, value.c_str());
        else
            std::printf("%s: %s\n", label, value.c_str());
    };
    line("name", p.name());
    line("size", sizeText(p));
    for (const auto& t : kToggles) line(t.label, shown((p.*t.get)()));
    line("video settings", settingsText(ZVCodecSettingsKind::video, p.videoSettings()));
    line("sound settings", settingsText(ZVCodecSettingsKind::sound, p.soundSettings()));
    line("zoom", p.zoomsAutomatically() ? "auto" : "off");
    for (const Number& number : kNumbers) line(number.label, ZVFormat("%g", (p.*number.get)()));
    for (const auto& t : kTextToggles) line(t.label, shown((p.*t.get)()));
}

bool readAnswer(const char* prompt, std::string& answer) {
    std::fputs(prompt, stdout);
    std::fflush(stdout);
    char line[1024];
    if (!std::fgets(line, sizeof line, stdin)) return false;
    answer = line;
    while (!answer.empty() && (answer.back() == '\n' || answer.back() == '\r')) answer.pop_back();
    return true;
}

// "50%" (of the recording) or "1280x720"; false when neither.
bool changeSize(ZVEncodingPreset& p, const std::string& text) {
    char* end = nullptr;
    double a = std::strtod(text.c_str(), &end);
    if (end == text.c_str() || !std::isfinite(a) || a <= 0) return false;
    if (std::string(end) == "%" && a <= 1000) {
        p.setVideoScaleMode(0);
        p.setVideoScale(a);
        return true;
    }
    if (*end != 'x' || a > 16384) return false;
    const char* rest = end + 1;
    double b = std::strtod(rest, &end);
    if (end == rest || *end || !std::isfinite(b) || b <= 0 || b > 16384) return false;
    p.setVideoScaleMode(1);
    p.setVideoDimensions({static_cast<float>(a), static_cast<float>(b)});
    return true;
}

int edit(const std::string& path) {
    std::string error;
    auto p = ZVEncodingPreset::readFile(path, error);
    if (!p) return ZVCommandFail(kName, error);
    ZVSettingsDialog::setShared(std::make_shared<ZVTerminalSettingsDialog>(stdin, stdout));
    const int videoItem = 3 + kToggleCount, soundItem = videoItem + 1, zoomItem = soundItem + 1;
    const int lastItem = zoomItem + int(std::size(kNumbers));
    for (;;) {
        std::printf("Preset %s\n", path.c_str());
        show(*p, true);
        std::string choice, answer;
        if (!readAnswer("Number to change, \"save\" or \"quit\": ", choice))
            return ZVCommandFail(kName, "the input ended before \"save\" or \"quit\"");
        if (choice == "quit") return 0;
        if (choice == "save") {
            if (!p->dictRepresentation().writeFile(path, false, &error))
                return ZVCommandFail(kName, error);
            std::printf("Saved %s\n", path.c_str());
            return 0;
        }
        char* end = nullptr;
        long item = std::strtol(choice.c_str(), &end, 10);
        if (choice.empty() || *end || item < 1 || item > lastItem + kTextToggleCount) {
            std::printf("Not a choice: %s\n", choice.c_str());
        } else if (item == 1) {
            if (!readAnswer("name: ", answer)) return ZVCommandFail(kName, "the input ended");
            p->setName(answer);
        } else if (item == 2) {
            if (!readAnswer("size (a percentage such as 50% or WIDTHxHEIGHT): ", answer))
                return ZVCommandFail(kName, "the input ended");
            if (!changeSize(*p, answer)) std::printf("Not understood: %s\n", answer.c_str());
        } else if (item < videoItem) {
            const Toggle& t = kToggles[item - 3];
            (p.get()->*t.set)(!(p.get()->*t.get)());
        } else if (item == videoItem) {
            if (auto h = ZVEncodingPreset::requestUserSettingsForVideo(p->videoSettings()))
                p->setVideoSettings(h);
        } else if (item == soundItem) {
            if (auto h = ZVEncodingPreset::requestUserSettingsForAudio(p->soundSettings()))
                p->setSoundSettings(h);
        } else if (item == zoomItem) {
            p->setZoomsAutomatically(!p->zoomsAutomatically());
        } else if (item <= lastItem) {
            const Number& number = kNumbers[item - zoomItem - 1];
            if (!readAnswer((std::string(number.label) + ": ").c_str(), answer))
                return ZVCommandFail(kName, "the input ended");
            if (std::string why = changeNumber(*p, number, answer); !why.empty())
                std::printf("%s\n", why.c_str());
        } else {
            const Toggle& t = kTextToggles[item - lastItem - 1];
            (p.get()->*t.set)(!(p.get()->*t.get)());
        }
    }
}

int run(const std::vector<std::string>& args) {
    std::string verb, path, name;
    bool force = false;
    for (size_t i = 0; i < args.size(); i++) {
        if (args[i] == "--force")
            force = true;
        else if (args[i] == "--name" && i + 1 < args.size())
            name = args[++i];
        else if (verb.empty())
            verb = args[i];
        else if (path.empty())
            path = args[i];
        else
            return ZVCommandFail(kName, "unexpected argument '" + args[i] + "' (see --help)");
    }
    if ((verb != "new" && verb != "show" && verb != "edit") || path.empty())
        return ZVCommandFail(kName, "expects new, show or edit and a FILE (see --help)");
    std::string error;
    if (verb == "new") {
        struct stat st;
        if (!force && stat(path.c_str(), &st) == 0)
            return ZVCommandFail(kName, path + " exists (--force replaces it)");
        auto p = ZVEncodingPreset::initWithName(name.empty() ? "Untitled" : name);
        p->setVideoSettings(ZVCodecSettings(ZVCodecSettingsKind::video).save());
        p->setSoundSettings(ZVCodecSettings(ZVCodecSettingsKind::sound).save());
        if (!p->dictRepresentation().writeFile(path, false, &error))
            return ZVCommandFail(kName, error);
        std::printf("Made %s\n", path.c_str());
        return 0;
    }
    if (verb == "edit") return edit(path);
    auto p = ZVEncodingPreset::readFile(path, error);
    if (!p) return ZVCommandFail(kName, error);
    show(*p, false);
    return 0;
}

const ZVCommand::Registration reg(
    {kName, "make, show or edit an export preset",
     "usage: zorvan preset new [--name NAME] [--force] FILE\n"
     "       zorvan preset show FILE\n"
     "       zorvan preset edit FILE\n\n"
     "An export preset says how a recording becomes a movie: its size, which overlays\n"
     "(cursor, mouse clicks, keys pressed) are drawn, which sound is included, and the\n"
     "video and sound codec settings. Presets are kept as property-list files.\n"
     "  new    writes a preset with the defaults (H.264 video, AAC sound, full size);\n"
     "         an existing FILE is kept unless --force is given\n"
     "  show   prints what the preset holds\n"
     "  edit   lists the settings with numbers; answer a number to change one (the\n"
     "         codec settings open their own list; zoom switches the export camera\n"
     "         between auto and off, the numbers below it ask for a value), \"save\" to\n"
     "         write the file, \"quit\" to leave it unchanged. Answers may come from a\n"
     "         pipe.\n",
     run});
}  // namespace
