#pragma once
// One judgement of every file of a recording, shared by `zorvan info` (which only looks)
// and `zorvan repair` (which mends): the package's Info.plist, its capture file, its WAV
// files, its cursor list and its movie, or a plain capture file. Each file gets one
// verdict in words that name it, so what info says repair would do is what repair does.
//
// Repair never makes things worse: what it changes is kept as NAME.damaged (unless in
// place), and what it cannot mend is left as it is.
#include <string>
#include <vector>

struct ZVFileVerdict {
    enum class State {
        Fine,        // reads as it is; nothing to do
        Notice,      // nothing to mend, but worth saying (no cursor list, a torn movie)
        Mendable,    // repair mends it (a dry run), or mended it
        Unmendable,  // repair cannot mend it, or failed to; it is left as it is
    };
    std::string path;
    State state = State::Fine;
    std::string words;  // one line for the user, naming the file
};

// Judges every file of the recording at `path` (a package or a plain capture file), and
// unless `dryRun` mends what it judged mendable. Verdicts come in this order: Info.plist,
// the screen, the microphone, the system audio, the cursors, the movie. `inPlace` keeps
// no copies of originals. Any thread, one caller per recording.
std::vector<ZVFileVerdict> ZVRepairRecording(const std::string& path, bool dryRun,
                                             bool inPlace = false);
