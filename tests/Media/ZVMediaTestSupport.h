#pragma once
// Runs pictures through a real compression session and decodes what came out with
// libavcodec, so tests compare pixels and times, not encoder internals.
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "Media/ZVCompressionSession.h"

namespace zvtest {

// A BGRA picture of one colour (B, G, R) that a session may borrow.
struct SourcePicture {
    SourcePicture(int width, int height, uint8_t b, uint8_t g, uint8_t r);
    ZVSourcePixels pixels() const;
    int width, height;
    std::vector<uint8_t> bytes;
};

// Everything a session gave back: encoded frames in arrival order, failures, and how
// often each source (by its index) was released.
struct SessionRecord {
    std::mutex lock;  // guards everything below (callbacks may come from the session thread)
    std::vector<ZVEncodedFrameRef> frames;
    int failures = 0;
    std::map<int, int> releases;

    ZVCompressionOutputCallback output();
    ZVSourceTrackingCallback tracking();
};

// Decodes `frames` (decode order, as they arrived) into BGRA pictures in display order,
// each with its display time stamp. Empty when decoding fails.
struct DecodedPicture {
    int64_t pts = 0;
    int width = 0, height = 0;
    std::vector<uint8_t> bgra;
    const uint8_t* at(int x, int y) const { return &bgra[(size_t(y) * width + x) * 4]; }
};
std::vector<DecodedPicture> decodeFrames(const std::vector<ZVEncodedFrameRef>& frames);

}  // namespace zvtest
