#pragma once
// Mends a capture file whose writer never finished (it crashed, or the machine went down):
// such a file keeps 28 zero bytes where its header belongs, so every reader refuses it.
// The repair reads the whole records from the start, cuts off a torn last record and
// writes the header the writer would have written: the number of whole records, the
// timestamp of the last one as duration, the first record's size. A file that readers
// already accept, or one that does not start with 28 zero bytes, is never changed.
#include <cstdint>
#include <string>

#include "Storage/ZVFomixFormat.h"

struct ZVFomixRepairResult {
    enum class Outcome {
        AlreadyReadable,  // the header is accepted; nothing was changed
        Repaired,         // a header was written (and a torn tail cut off)
        NotACaptureFile,  // neither a capture file nor an unfinished one; nothing changed
        Failed,           // the file could not be read or written (see message)
    };
    Outcome outcome = Outcome::Failed;
    ZVFomixFileInfo header;     // the header the file has now
    uint64_t originalSize = 0;  // bytes before the repair
    uint64_t keptSize = 0;      // bytes after it
    std::string stopReason;     // why the scan ended before the file's end, if it did
    std::string message;        // one line for the user
};

// Repairs the file at `path` in place; with `dryRun` it only says what it would do.
// Any thread (one caller per file).
ZVFomixRepairResult ZVFomixRepair(const std::string& path, bool dryRun = false);
