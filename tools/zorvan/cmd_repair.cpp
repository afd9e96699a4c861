// zorvan repair: mends a capture file, or every track of a recording package, without
// ever making things worse: originals are kept, foreign files are left alone.
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "Session/ZVRecordingRepair.h"
#include "ZVCommand.h"
#include "Zorvan.h"

namespace {
const char* kName = "repair";

struct Options {
    bool dryRun = false;
    bool inPlace = false;
};

// Prints each file's verdict: what was mended or is fine on standard output, what could
// not be mended on standard error. 1 when something could not be mended.
int report(const std::vector<ZVFileVerdict>& verdicts) {
    int status = 0;
    for (const auto& v : verdicts) {
        const bool failed = v.state == ZVFileVerdict::State::Unmendable;
        std::fprintf(failed ? stderr : stdout, "%s%s\n", failed ? "zorvan repair: " : "",
                     v.words.c_str());
        if (failed) status = 1;
    }
    return status;
}

int run(const std::vector<std::string>& args) {
    std::string path;
    Options o;
    for (const auto& a : args) {
        if (a == "--dry-run")
            o.dryRun = true;
        else if (a == "--in-place")
            o.inPlace = true;
        else if (path.empty())
            path = a;
        else
            return ZVCommandFail(kName, "unexpected argument '" + a + "' (see --help)");
    }
    if (path.empty()) return ZVCommandFail(kName, "expects a CAPTURE file or PACKAGE (see --help)");
    struct stat st;
    if (stat(path.c_str(), &st) != 0)
        return ZVCommandFail(kName, path + ": " + std::strerror(errno));
    return report(ZVRepairRecording(path, o.dryRun, o.inPlace));
}

const ZVCommand::Registration reg(
    {kName, "mend a recording whose writer never finished or whose file was damaged",
     "usage: zorvan repair [--dry-run] [--in-place] CAPTURE|PACKAGE\n\n"
     "Mends what a crash, a full disk or a damaged disk left behind, and never makes it\n"
     "worse. For a capture file: it reads every whole frame record, steps over damaged\n"
     "records to the next one that reads, leaves a torn last record out, and writes the\n"
     "header (frames, duration, picture size) into a mended copy that takes the file's\n"
     "place; the original is kept as NAME.damaged. For a recording package: the same for\n"
     "its capture file, the sizes in its WAV headers, and an Info.plist that is gone or\n"
     "cannot be read (a new one lists the track files present); a WAV file cut inside\n"
     "its header holds no sound and is set aside. A file that is not a capture file (no\n"
     "whole records a recording makes), a file that reads already and one that cannot be\n"
     "mended are left as they are; 'zorvan info' says the same of each file.\n"
     "  --dry-run   say what would be done, change nothing\n"
     "  --in-place  keep no copy of the original; a capture file that only lacks its header\n"
     "              is then mended where it lies (this needs no free space)\n"
     "Exits with 1 when something could not be mended or is not a recording.\n",
     run});
}  // namespace
