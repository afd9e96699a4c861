#include "Media/ZVTerminalSettingsDialog.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace {
struct Named {
    const char* key;  // what the user types
    const char* name;
    uint32_t code;
};
const Named kVideoCodecs[] = {
    {"h264", "H.264", kZVVideoCodecType_H264},
    {"hevc", "HEVC", kZVVideoCodecType_HEVC},
    {"prores", "ProRes 422", kZVVideoCodecType_ProRes422},
    {"animation", "Animation", kZVVideoCodecType_Animation},
    {"png", "PNG", kZVVideoCodecType_PNG},
    {"mjpeg", "Motion JPEG", kZVVideoCodecType_MotionJPEG},
};
const Named kSoundFormats[] = {
    {"aac", "AAC", kZVAudioFormat_AAC},
    {"alac", "Apple Lossless", kZVAudioFormat_AppleLossless},
    {"pcm", "Linear PCM", kZVAudioFormat_LinearPCM},
};
const Named kQualities[] = {
    {"min", "minimum", kZVCodecMinQuality},      {"low", "low", kZVCodecLowQuality},
    {"normal", "normal", kZVCodecNormalQuality}, {"high", "high", kZVCodecHighQuality},
    {"max", "maximum", kZVCodecMaxQuality},      {"lossless", "lossless", kZVCodecLosslessQuality},
};

template <size_t N>
const Named* findKey(const Named (&table)[N], const std::string& key) {
    for (const auto& n : table)
        if (key == n.key) return &n;
    return nullptr;
}

// A whole decimal number in [min, max]; nothing else on the line.
bool parseNumber(const std::string& text, double min, double max, double& out) {
    if (text.empty()) return false;
    errno = 0;
    char* end = nullptr;
    double v = std::strtod(text.c_str(), &end);
    if (errno || *end != '\0' || !std::isfinite(v) || v < min || v > max) return false;
    out = v;
    return true;
}

std::string trim(const std::string& s) {
    size_t a = s.find_first_not_of(" \t\r\n"), b = s.find_last_not_of(" \t\r\n");
    return a == std::string::npos ? std::string() : s.substr(a, b - a + 1);
}

std::string optionsText(const ZVCodecSettings& s) {
    std::string t;
    for (const auto& [k, v] : s.codecOptions()) t += (t.empty() ? "" : " ") + k + "=" + v;
    return t.empty() ? "none" : t;
}

bool changeOption(ZVCodecSettings& s, const std::string& answer) {
    size_t eq = answer.find('=');
    if (eq == 0 || eq == std::string::npos) return false;
    std::string name = answer.substr(0, eq), value = answer.substr(eq + 1);
    if (value.empty())
        s.removeCodecOption(name);
    else
        s.setCodecOption(name, value);
    return true;
}
}  // namespace

std::string ZVVideoCodecName(uint32_t codecType) {
    for (const auto& n : kVideoCodecs)
        if (n.code == codecType) return n.name;
    return ZVStringFromFourCC(codecType);
}

std::optional<uint32_t> ZVVideoCodecForKey(const std::string& key) {
    const Named* n = findKey(kVideoCodecs, key);
    return n ? std::optional(n->code) : std::nullopt;
}

std::optional<uint32_t> ZVSoundFormatForKey(const std::string& key) {
    const Named* n = findKey(kSoundFormats, key);
    return n ? std::optional(n->code) : std::nullopt;
}

std::string ZVSoundFormatName(uint32_t formatID) {
    for (const auto& n : kSoundFormats)
        if (n.code == formatID) return n.name;
    return ZVStringFromFourCC(formatID);
}

bool ZVTerminalSettingsDialog::readLine(const char* prompt, std::string& line) {
    std::fputs(prompt, _out);
    std::fflush(_out);
    line.clear();
    char chunk[256];
    while (std::fgets(chunk, sizeof chunk, _in)) {
        line += chunk;
        if (!line.empty() && line.back() == '\n') break;
        if (line.size() > 4096) break;  // a line that long is no answer; take what came
    }
    if (line.empty()) return false;
    line = trim(line);
    return true;
}

long ZVTerminalSettingsDialog::requestSettings(ZVCodecSettings& settings) {
    // Work on a copy: cancel and errors leave the caller's settings as they were.
    ZVCodecSettings work = settings;
    long result = run(work, settings.kind() == ZVCodecSettingsKind::video);
    if (result == kZVDialogOK) settings = work;
    return result;
}

long ZVTerminalSettingsDialog::run(ZVCodecSettings& s, bool video) {
    // What each numbered item asks for, in the order of the lists.
    static const char* const kVideoPrompts[] = {
        "codec (h264, hevc, prores, animation, png, mjpeg): ",
        "frames per second (0 for none): ",
        "a key frame every how many frames (0 for the codec's choice): ",
        "quality (min, low, normal, high, max, lossless, or 0 to 1024): ",
        "bit rate in kbit/s (0 to let the quality decide): ",
        "option NAME=VALUE (NAME= removes it): ",
    };
    static const char* const kSoundPrompts[] = {
        "format (aac, alac, pcm): ",   "sample rate in Hz (8000 to 192000): ",
        "channels (1 or 2): ",         "bit rate in kbit/s (AAC): ",
        "render quality (0 to 127): ", "option NAME=VALUE (NAME= removes it): ",
    };
    for (;;) {
        if (video)
            showVideo(s);
        else
            showSound(s);
        std::string choice, answer;
        if (!readLine("Number to change, \"ok\" or \"cancel\": ", choice))
            return kZVDialogErrInputEnded;
        if (choice == "ok") return kZVDialogOK;
        if (choice == "cancel") return kZVDialogCancel;
        int item = choice.size() == 1 ? choice[0] - '0' : 0;
        if (item < 1 || item > 6) {
            std::fprintf(_out, "Not a choice: %s\n", choice.c_str());
            continue;
        }
        if (!readLine((video ? kVideoPrompts : kSoundPrompts)[item - 1], answer))
            return kZVDialogErrInputEnded;
        if (!(video ? changeVideo(s, item, answer) : changeSound(s, item, answer)))
            std::fprintf(_out, "Not understood: %s\n", answer.c_str());
    }
}

void ZVTerminalSettingsDialog::showVideo(const ZVCodecSettings& s) {
    double rate = ZVFixedToDouble(s.frameRate());
    std::fprintf(_out, "Video settings\n");
    std::fprintf(_out, "  1 codec       %s\n", ZVVideoCodecName(s.codecType()).c_str());
    if (rate > 0)
        std::fprintf(_out, "  2 frame rate  %g\n", rate);
    else
        std::fprintf(_out, "  2 frame rate  none\n");
    if (s.keyFrameInterval() > 0)
        std::fprintf(_out, "  3 key frames  every %d frames\n", s.keyFrameInterval());
    else
        std::fprintf(_out, "  3 key frames  the codec's choice\n");
    std::fprintf(_out, "  4 quality     %d\n", s.quality());
    if (s.bitRate() > 0)
        std::fprintf(_out, "  5 bit rate    %lld kbit/s\n",
                     static_cast<long long>(s.bitRate() / 1000));
    else
        std::fprintf(_out, "  5 bit rate    the quality decides\n");
    std::fprintf(_out, "  6 options     %s\n", optionsText(s).c_str());
}

bool ZVTerminalSettingsDialog::changeVideo(ZVCodecSettings& s, int item,
                                           const std::string& answer) {
    double v = 0;
    switch (item) {
        case 1:
            if (const Named* n = findKey(kVideoCodecs, answer)) {
                s.setCodecType(n->code);
                return true;
            }
            return false;
        case 2:
            if (!parseNumber(answer, 0, 1000, v)) return false;
            s.setFrameRate(ZVDoubleToFixed(v));
            return true;
        case 3:
            if (!parseNumber(answer, 0, 100000, v) || v != std::floor(v)) return false;
            s.setKeyFrameInterval(static_cast<int32_t>(v));
            return true;
        case 4:
            if (const Named* n = findKey(kQualities, answer)) {
                s.setQuality(static_cast<int32_t>(n->code));
                return true;
            }
            if (!parseNumber(answer, 0, kZVCodecLosslessQuality, v) || v != std::floor(v))
                return false;
            s.setQuality(static_cast<int32_t>(v));
            return true;
        case 5:
            if (!parseNumber(answer, 0, 1e7, v)) return false;
            s.setBitRate(static_cast<int64_t>(v * 1000));
            return true;
        default:
            return changeOption(s, answer);
    }
}

void ZVTerminalSettingsDialog::showSound(const ZVCodecSettings& s) {
    const ZVAudioStreamDescription& d = s.outputDescription();
    std::fprintf(_out, "Sound settings\n");
    std::fprintf(_out, "  1 format       %s\n", ZVSoundFormatName(d.formatID).c_str());
    std::fprintf(_out, "  2 sample rate  %g Hz\n", d.sampleRate);
    std::fprintf(_out, "  3 channels     %u\n", d.channelsPerFrame);
    std::fprintf(_out, "  4 bit rate     %lld kbit/s\n",
                 static_cast<long long>(s.bitRate() / 1000));
    std::fprintf(_out, "  5 quality      %u\n", s.renderQuality());
    std::fprintf(_out, "  6 options      %s\n", optionsText(s).c_str());
}

bool ZVTerminalSettingsDialog::changeSound(ZVCodecSettings& s, int item,
                                           const std::string& answer) {
    ZVAudioStreamDescription d = s.outputDescription();
    double v = 0;
    switch (item) {
        case 1: {
            const Named* n = findKey(kSoundFormats, answer);
            if (!n) return false;
            s.setSoundFormat(n->code);
            return true;
        }
        case 2:
            if (!parseNumber(answer, 8000, 192000, v)) return false;
            d.sampleRate = v;
            break;
        case 3:
            if (answer != "1" && answer != "2") return false;
            d.channelsPerFrame = static_cast<uint32_t>(answer[0] - '0');
            if (d.formatID == kZVAudioFormat_LinearPCM)
                d.bytesPerFrame = d.bytesPerPacket = 2 * d.channelsPerFrame;
            s.setChannelLayoutTag(d.channelsPerFrame == 1 ? kZVChannelLayoutTag_Mono
                                                          : kZVChannelLayoutTag_Stereo);
            break;
        case 4:
            if (!parseNumber(answer, 8, 512, v)) return false;
            s.setBitRate(static_cast<int64_t>(v * 1000));
            return true;
        case 5:
            if (!parseNumber(answer, 0, 127, v) || v != std::floor(v)) return false;
            s.setRenderQuality(static_cast<uint32_t>(v));
            return true;
        default:
            return changeOption(s, answer);
    }
    s.setOutputDescription(d);
    return true;
}
