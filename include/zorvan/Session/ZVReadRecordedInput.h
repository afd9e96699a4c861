#pragma once
// A recording's input as its capture file keeps it, for the zoom plan and the camera.
#include <optional>
#include <string>

#include "Export/ZVRecordedInput.h"

// Reads the frame records of the recording at `path` (a package or a plain capture file)
// up to the last one that reads whole, skipping their pictures' pixels. nullopt with one
// line in *error when there is no recording, its track list cannot be read, or it has no
// screen track that can be read (one whose writer never finished wants zorvan repair
// first). Any thread.
std::optional<ZVRecordedInput> ZVReadRecordedInput(const std::string& path, std::string* error);
