// Any bytes as a recording's cursor list: reading must refuse or accept without a crash,
// what it accepts must write and read back the same, and every accepted cursor must be
// safe to draw into a frame, whatever its record says about rows, bounds and hot spot.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "Storage/ZVCursorListFile.h"
#include "Video/ZVMovieFrame.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string error;
    auto cursors = ZVCursorListFile::fromBytes(data, size, &error);
    if (!cursors) {
        if (error.empty()) abort();
        return 0;
    }
    auto bytes = ZVCursorListFile::toPropertyList(*cursors).toBinaryPropertyList();
    auto again = ZVCursorListFile::fromBytes(bytes.data(), bytes.size(), &error);
    if (!again || again->size() != cursors->size()) abort();
    for (size_t i = 0; i < cursors->size(); ++i) {
        const auto& a = (*cursors)[i];
        const auto& b = (*again)[i];
        if (a.id != b.id || std::memcmp(&a.info, &b.info, sizeof(ZVCursorInfo)) != 0 ||
            *a.data != *b.data)
            abort();
    }

    static auto frame = ZVMovieFrame::movieFrameWithSize(ZVSize{32, 24});
    if (!frame) abort();
    for (const auto& c : *cursors) {
        frame->drawCursor(c, ZVPoint{10, 10});
        frame->drawCursor(c, ZVPoint{-5, 30}, true);
    }
    return 0;
}
