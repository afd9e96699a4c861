#include "ZVExportTestSupport.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <tuple>

#include "Audio/ZVWavHeader.h"

namespace zvtest {

std::vector<MovieStream> probeMovie(const std::string& path) {
    std::vector<MovieStream> streams;
    std::istringstream lines(programOutput(
        {"ffprobe", "-v", "error", "-show_entries",
         "stream=codec_type,codec_name,width,height,sample_rate,start_time,duration,nb_frames,"
         "level",
         "-of", "compact=p=0", path}));
    for (std::string line; std::getline(lines, line);) {
        MovieStream s;
        std::istringstream fields(line);
        for (std::string f; std::getline(fields, f, '|');) {
            const auto eq = f.find('=');
            if (eq == std::string::npos) continue;
            const std::string k = f.substr(0, eq), v = f.substr(eq + 1);
            const double d = std::atof(v.c_str());
            if (k == "codec_type") s.type = v;
            if (k == "codec_name") s.codec = v;
            if (k == "width") s.width = int(d);
            if (k == "height") s.height = int(d);
            if (k == "sample_rate") s.sampleRate = int(d);
            if (k == "start_time" && v != "N/A") s.start = d;
            if (k == "duration" && v != "N/A") s.duration = d;
            if (k == "nb_frames" && v != "N/A") s.frames = long(d);
            if (k == "level") s.level = int(d);
        }
        streams.push_back(s);
    }
    return streams;
}

std::vector<Cue> probeChapters(const std::string& path) {
    std::vector<Cue> chapters;
    std::istringstream lines(
        programOutput({"ffprobe", "-v", "error", "-show_entries",
                       "chapter=start_time,end_time:chapter_tags=title", "-of", "csv=p=0", path}));
    Cue c;
    while (lines >> c.start && lines.get() == ',' && lines >> c.end && lines.get() == ',' &&
           std::getline(lines, c.text))
        chapters.push_back(c);
    return chapters;
}

std::vector<Cue> subtitles(const std::string& path) {
    std::vector<Cue> cues;
    std::istringstream lines(
        programOutput({"ffmpeg", "-v", "error", "-i", path, "-map", "0:s", "-f", "srt", "-"}));
    for (std::string line; std::getline(lines, line);) {
        int t[8];
        if (std::sscanf(line.c_str(), "%d:%d:%d,%d --> %d:%d:%d,%d", t, t + 1, t + 2, t + 3, t + 4,
                        t + 5, t + 6, t + 7) != 8)
            continue;
        Cue cue{t[0] * 3600 + t[1] * 60 + t[2] + t[3] / 1000.0,
                t[4] * 3600 + t[5] * 60 + t[6] + t[7] / 1000.0,
                {}};
        // One line of text, without the style the decoder writes around it.
        std::getline(lines, cue.text);
        for (size_t open; (open = cue.text.find('<')) != std::string::npos;)
            cue.text.erase(open, cue.text.find('>', open) - open + 1);
        cues.push_back(cue);
    }
    return cues;
}

std::vector<double> keyFrameTimes(const std::string& path) {
    std::vector<double> times;
    std::istringstream lines(
        programOutput({"ffprobe", "-v", "error", "-select_streams", "v:0", "-show_entries",
                       "packet=pts_time,flags", "-of", "csv=p=0", path}));
    for (std::string line; std::getline(lines, line);)
        if (line.find(",K") != std::string::npos) times.push_back(std::atof(line.c_str()));
    return times;
}

bool indexBeforeMedia(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    for (unsigned char h[8]; in.read(reinterpret_cast<char*>(h), 8);) {
        const std::string type(reinterpret_cast<char*>(h + 4), 4);
        if (type == "moov" || type == "mdat") return type == "moov";
        const uint32_t size = uint32_t(h[0]) << 24 | h[1] << 16 | h[2] << 8 | h[3];
        if (size < 8) return false;  // 64-bit or open-ended sizes: only mdat has them
        in.seekg(size - 8, std::ios::cur);
    }
    return false;
}

double movieDuration(const std::string& path) {
    const std::string text = programOutput(
        {"ffprobe", "-v", "error", "-show_entries", "format=duration", "-of", "csv=p=0", path});
    return text.empty() ? -1 : std::atof(text.c_str());
}

double longestRun(const std::string& path) {
    std::vector<std::tuple<long, int, double>> packets;  // position, stream, time
    std::istringstream lines(
        programOutput({"ffprobe", "-v", "error", "-show_entries",
                       "packet=pos,stream_index,dts_time", "-of", "csv=p=0", path}));
    for (std::string line; std::getline(lines, line);) {
        int stream = 0;
        double time = 0;
        long pos = 0;
        if (std::sscanf(line.c_str(), "%d,%lf,%ld", &stream, &time, &pos) == 3)
            packets.emplace_back(pos, stream, time);
    }
    std::sort(packets.begin(), packets.end());
    double longest = 0;
    for (size_t first = 0, i = 1; i < packets.size(); ++i)
        if (std::get<1>(packets[i]) != std::get<1>(packets[first])) {
            longest = std::max(longest, std::get<2>(packets[i - 1]) - std::get<2>(packets[first]));
            first = i;
        }
    return longest;
}

double toneOnset(const std::string& path, int index) {
    const std::string stream = "0:a:" + std::to_string(index);
    const std::string pcm = programOutput({"ffmpeg", "-v", "error", "-i", path, "-map", stream,
                                           "-af", "aresample=async=1:first_pts=0", "-ac", "1",
                                           "-ar", "44100", "-f", "s16le", "-"});
    const auto* s = reinterpret_cast<const int16_t*>(pcm.data());
    for (size_t i = 0; i < pcm.size() / 2; ++i)
        if (std::abs(s[i]) > 8192) return double(i) / 44100;
    return -1;
}

double firstRedFrame(const std::string& path) {
    std::istringstream times(
        programOutput({"ffprobe", "-v", "error", "-select_streams", "v:0", "-show_entries",
                       "frame=best_effort_timestamp_time", "-of", "csv=p=0", path}));
    const std::string rgb = programOutput({"ffmpeg", "-v", "error", "-i", path, "-map", "0:v:0",
                                           "-fps_mode", "passthrough", "-vf", "scale=4:4",
                                           "-pix_fmt", "rgb24", "-f", "rawvideo", "-"});
    size_t frame = 0;
    for (std::string t; std::getline(times, t);) {
        if (t.empty()) continue;  // ffprobe's csv puts blank lines between some frames
        const size_t at = frame++ * 48 + (2 * 4 + 2) * 3;
        if (at + 3 > rgb.size()) break;
        const auto r = uint8_t(rgb[at]), g = uint8_t(rgb[at + 1]), b = uint8_t(rgb[at + 2]);
        if (r > 180 && g < 80 && b < 80) return std::atof(t.c_str());
    }
    return -1;
}

std::string frameAt(const std::string& path, double seconds) {
    // A seek alone gives the first frame starting after `seconds`; the frames, repeated
    // every millisecond (the last one held on, as a player does), give the one shown then
    // also in a movie of variable frame rate.
    return programOutput({"ffmpeg", "-v", "error", "-i", path, "-vf",
                          "tpad=stop_mode=clone:stop_duration=10,fps=1000", "-ss",
                          std::to_string(seconds), "-frames:v", "1", "-pix_fmt", "rgb24", "-f",
                          "rawvideo", "-"});
}

void writeWav(const std::string& path, int frames, const std::function<int16_t(int)>& sample) {
    const ZVSoundFormat format{2, 16, 44100, kZVSoundFormatSignedInteger};
    const ZVWavLayout layout = ZVWavHeader::layoutFor(format);
    std::vector<uint8_t> bytes =
        ZVWavHeader::bytes(ZVWavHeader::records(format, uint32_t(frames)), layout);
    bytes.resize(size_t(layout.dataOffset), 0);
    for (int i = 0; i < frames; ++i) {
        const int16_t v = sample(i);
        for (int c = 0; c < 2; ++c) {
            bytes.push_back(uint8_t(v & 0xFF));
            bytes.push_back(uint8_t((v >> 8) & 0xFF));
        }
    }
    writeBytes(path, bytes);
}

std::unique_ptr<ZVSoundDescription> pcmDescription() {
    auto d = std::make_unique<ZVSoundDescription>();
    const uint32_t flags = kZVAudioFormatFlagIsSignedInteger | kZVAudioFormatFlagIsPacked;
    d->format = {44100, kZVAudioFormat_LinearPCM, flags, 4, 1, 4, 2, 16, 0};
    return d;
}

bool runWriter(ZVMovie& movie, std::string_view didStop, const std::function<void()>& start,
               const std::function<void()>& finalize) {
    std::atomic<bool> stopped{false};
    int token;
    ZVNotificationCenter::defaultCenter().addObserver(
        &token, didStop, &movie, [&](const ZVNotification&) { stopped = true; });
    start();
    finalize();
    const bool done = runMainUntil([&] { return stopped.load(); }, 20);
    ZVNotificationCenter::defaultCenter().removeObserver(&token);
    return done;
}

}  // namespace zvtest
