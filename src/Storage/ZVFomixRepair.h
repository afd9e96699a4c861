#pragma once
#include "ZVPrivate.h"  // library-internal

// Mends a capture file whose writer never finished (it crashed, the disk filled up, the
// machine went down) or whose records were damaged afterwards. Such a file keeps 28 zero
// bytes where its header belongs, or reads only part of the way, so readers refuse it.
//
// The repair never harms: a file whose first record is not one a writer makes is refused
// and left as it is; a file that reads to its end is left as it is; otherwise the mended
// file is written as a copy (header, then every whole record) that takes the file's place,
// while the original is kept beside it as "NAME.damaged". Past a damaged record it looks
// for the next record the reader accepts and goes on from there, so one bad size field
// costs one frame, not the rest of the recording.
#include <cstdint>
#include <string>

#include "Storage/ZVFomixFileReader.h"
#include "Storage/ZVFomixFormat.h"

struct ZVFomixRepairResult {
    enum class Outcome {
        AlreadyReadable,  // the file reads to its end as its header says; nothing changed
        Repaired,         // a mended file took its place (or would, on a dry run)
        NotACaptureFile,  // not a capture file, or one this tool cannot mend; nothing changed
        Failed,           // the file could not be read or written (see message)
    };
    Outcome outcome = Outcome::Failed;
    ZVFomixFileInfo header;       // the header the file has (or would have) now
    uint64_t originalSize = 0;    // bytes before the repair
    uint64_t keptSize = 0;        // bytes of the mended file
    uint32_t salvagedFrames = 0;  // whole records found past a damaged one
    std::string stopReason;       // what was damaged, if anything
    std::string damagedPath;      // where the original was kept; empty when it was not
    std::string message;          // one line for the user
};

// Repairs the file at `path`: with `dryRun` it only says what it would do; with `inPlace`
// it keeps no copy of the original (a file that only lacks its header and has a torn tail
// is then mended where it lies, which needs no free space). Any thread (one caller per
// file). Recordings whose picture needs more than `maxCanvasBytes` are not taken.
ZVFomixRepairResult ZVFomixRepair(
    const std::string& path, bool dryRun = false, bool inPlace = false,
    size_t maxCanvasBytes = ZVFomixFileReader::kDefaultMaxCanvasBytes);

// The first name "<path>.damaged", "<path>.damaged-2", ... that does not exist. Any thread.
std::string ZVFomixDamagedPath(const std::string& path);
