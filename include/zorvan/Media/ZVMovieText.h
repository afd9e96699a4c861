#pragma once
// What a movie carries of the recorded input besides its picture: the key strip's text as
// a track of timed text that a player can switch on and off, and chapter marks at clicks
// and shortcuts. Times are seconds of the screen's recording time, as its frames count it;
// the movie places them with the video track.
#include <string>
#include <vector>

// One text sample: `text` shown from `start` until `end`.
struct ZVTimedText {
    double start = 0;
    double end = 0;
    std::string text;
    bool operator==(const ZVTimedText&) const = default;
};

// A chapter that begins at `time`; it lasts until the next one, the last until the end.
struct ZVChapterMark {
    double time = 0;
    std::string title;
    bool operator==(const ZVChapterMark&) const = default;
};

struct ZVMovieText {
    std::vector<ZVTimedText> keys;        // in time order, not overlapping
    std::vector<ZVChapterMark> chapters;  // in time order
};
