#pragma once
// A plain-text description of a recording for people: what kind it is, its tracks with
// their files and properties, the movie, files that no track lists, and what could not be
// read. The command-line host prints it for `zorvan info`.
#include <string>

class ZVFomixXManager;
class ZVValue;

// Several lines, each ending in a line feed; never fails (what cannot be read is said so
// in the text). Reads file sizes and the cursor list, writes nothing. Any thread, one at a
// time per recording.
std::string ZVDescribeFomixX(const ZVFomixXManager& recording);

// A property-list value on one line: strings quoted, data as its byte count, arrays in
// brackets, dictionaries in braces ("{Key = value; ...}"). Any thread.
std::string ZVDescribeValue(const ZVValue& value);
