#pragma once
// What the export tests read back from a movie with ffprobe and ffmpeg, and WAV files
// written for them.
#include <functional>
#include <string>
#include <vector>

namespace zvtest {

struct MovieStream {
    std::string type, codec;
    int width = 0, height = 0, sampleRate = 0;
    double start = -1, duration = -1;
    long frames = -1;
};
// Every stream ffprobe sees; empty when it cannot read the file.
std::vector<MovieStream> probeMovie(const std::string& path);

// Movie time (edit lists applied) of the first audio sample louder than a quarter of full
// scale in the first audio stream; -1 when there is none.
double toneOnset(const std::string& path);
// Display time of the first video frame whose centre is red; -1 when there is none.
double firstRedFrame(const std::string& path);

// A 16-bit stereo 44100 Hz WAV of `frames` frames, sample i of both channels being
// `sample(i)`.
void writeWav(const std::string& path, int frames, const std::function<int16_t(int)>& sample);

}  // namespace zvtest
