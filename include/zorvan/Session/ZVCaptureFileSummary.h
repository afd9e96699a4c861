#pragma once
// What a capture file holds, read to its end: its header as stored and a tally of its
// frame records. A host describes a recording with it without reading records itself;
// whether the file is whole is ZVRepairRecording's to judge.
#include <cstdint>
#include <optional>
#include <string>

#include "Storage/ZVFomixFormat.h"

struct ZVCaptureFileSummary {
    uint64_t fileSize = 0;
    ZVFomixFileInfo header{};     // as read, in this machine's byte order when accepted
    bool accepted = false;        // the signature is one a reader takes
    bool unfinished = false;      // refused, but only because its writer never wrote the header
    bool canvasAccepted = false;  // the picture size is one a reader makes room for
    // The records read one after the other while each applied whole (none unless accepted
    // and canvasAccepted).
    uint32_t records = 0;
    uint32_t compressed = 0;  // zlib-compressed block data
    uint32_t withKeyStrokes = 0;
    uint32_t unchanged = 0;  // no block: the picture stayed as it was
    uint64_t blocks = 0;
    uint64_t blockBytes = 0;   // block data as its records state it
    uint64_t storedBytes = 0;  // whole records in the file
    double firstTimestamp = 0, lastTimestamp = 0;

    // Reads the capture file at `path`; nullopt (errno kept) when it cannot be opened.
    // Any thread.
    static std::optional<ZVCaptureFileSummary> ofFile(const std::string& path);
};
