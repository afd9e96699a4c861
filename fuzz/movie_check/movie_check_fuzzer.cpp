// Any bytes as a package's movie: the atom walk ends, reads nothing past the bytes it was
// given, and calls whole only what holds an index atom ("moov", 8 bytes at least).
#include <cstdint>
#include <string>

#include "Storage/ZVMovieFileCheck.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (ZVMovieBytesProblem(data, size).empty() && size < 8) __builtin_trap();
    return 0;
}
