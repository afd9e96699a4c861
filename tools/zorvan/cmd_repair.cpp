// zorvan repair: writes the header that an unfinished capture file lacks.
#include <cstdio>

#include "ZVCommand.h"
#include "Zorvan.h"

namespace {
const char* kName = "repair";

int run(const std::vector<std::string>& args) {
    std::string path;
    bool dryRun = false;
    for (const auto& a : args) {
        if (a == "--dry-run")
            dryRun = true;
        else if (path.empty())
            path = a;
        else
            return ZVCommandFail(kName, "unexpected argument '" + a + "' (see --help)");
    }
    if (path.empty()) return ZVCommandFail(kName, "expects a CAPTURE file (see --help)");
    const ZVFomixRepairResult result = ZVFomixRepair(path, dryRun);
    using Outcome = ZVFomixRepairResult::Outcome;
    if (result.outcome == Outcome::Failed || result.outcome == Outcome::NotACaptureFile)
        return ZVCommandFail(kName, result.message);
    std::printf("%s\n", result.message.c_str());
    return 0;
}

const ZVCommand::Registration reg(
    {kName, "mend a capture file whose recording never finished",
     "usage: zorvan repair [--dry-run] CAPTURE\n\n"
     "A capture file whose writer never finished (the program or the machine stopped)\n"
     "keeps 28 zero bytes where its header belongs, and no reader accepts it. repair reads\n"
     "its whole frame records from the start, cuts off a torn last record, and writes the\n"
     "header: the number of whole records, the timestamp of the last one as duration, and\n"
     "the first record's picture size. It says what it found. A file that readers accept\n"
     "already, or that is not a capture file, is left as it is.\n"
     "  --dry-run   say what would be done, change nothing\n",
     run});
}  // namespace
