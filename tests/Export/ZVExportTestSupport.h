#pragma once
// What the export tests read back from a movie with ffprobe and ffmpeg, WAV files written
// for them, and the movie writer's fixture.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "Export/ZVMovie.h"
#include "Platform/FFmpeg/ZVFFmpegMediaToolkit.h"
#include "support/ZVTestSupport.h"

namespace zvtest {

struct MovieStream {
    std::string type, codec;
    int width = 0, height = 0, sampleRate = 0, level = -1;
    double start = -1, duration = -1;
    long frames = -1;
};
// Every stream ffprobe sees; empty when it cannot read the file.
std::vector<MovieStream> probeMovie(const std::string& path);

// The chapters ffprobe reads (text: the title); the key track as ffmpeg dumps it in SRT;
// the display times of the video's key frames, in file order.
struct Cue {
    double start, end;
    std::string text;
};
std::vector<Cue> probeChapters(const std::string& path);
std::vector<Cue> subtitles(const std::string& path);
std::vector<double> keyFrameTimes(const std::string& path);

// Whether the movie's index (its top-level "moov" box) comes before its media ("mdat").
bool indexBeforeMedia(const std::string& path);
// The file's duration as ffprobe reads it; -1 when it cannot.
double movieDuration(const std::string& path);
// Seconds (first to last time stamp) of the longest run of one stream's packets in file
// order, the file's last run left out: that one may hold a track that outlasts the others.
double longestRun(const std::string& path);

// Movie time (edit lists applied) of the first audio sample louder than a quarter of full
// scale in the audio stream `index`; -1 when there is none.
double toneOnset(const std::string& path, int index = 0);
// Display time of the first video frame whose centre is red; -1 when there is none.
double firstRedFrame(const std::string& path);
// The picture shown at `seconds`, rgb24 rows top first (the last one held on for 10 s);
// empty when there is none.
std::string frameAt(const std::string& path, double seconds);

// A 16-bit stereo 44100 Hz WAV of `frames` frames, sample i of both channels being
// `sample(i)`.
void writeWav(const std::string& path, int frames, const std::function<int16_t(int)>& sample);

// Linear PCM, 16-bit signed stereo at 44100 Hz.
std::unique_ptr<ZVSoundDescription> pcmDescription();

// Runs `start`, then `finalize`, and waits (main loop) for the writer's `didStop`; false
// when it did not come.
bool runWriter(ZVMovie& movie, std::string_view didStop, const std::function<void()>& start,
               const std::function<void()>& finalize);

// The movie writer's tests: a preset and a folder of their own.
class MovieWriterTest : public ::testing::Test {
  protected:
    std::shared_ptr<ZVEncodingPreset> preset = ZVEncodingPreset::initWithName("test");
    TempDir dir;
};

}  // namespace zvtest
