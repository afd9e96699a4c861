// Any bytes as a zoom plan for a 10 s recording: reading must refuse with a reason or
// accept, what it accepts must write and read back the same, and the camera it gives must
// look inside the picture at every moment.
#include <cmath>
#include <cstdint>
#include <cstdlib>

#include "ZorvanInternal.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const ZVRecordedInput input = [] {
        ZVRecordedInput in(ZVSize{640, 480});
        ZVFrameInfo record{};
        for (double t : {0.0, 5.0, 10.0}) {
            record.timestamp = t;
            record.mousePointerLocation = ZVPoint{float(t * 60), float(t * 40)};
            in.addRecord(record, 0);
        }
        return in;
    }();
    std::string error;
    auto plan = ZVZoomPlanFile::fromBytes(data, size, input, {}, &error);
    if (!plan) {
        if (error.empty()) abort();
        return 0;
    }
    const auto bytes = ZVZoomPlanFile::toPropertyList(*plan).toBinaryPropertyList();
    auto again = ZVZoomPlanFile::fromBytes(bytes.data(), bytes.size(), input, {}, &error);
    if (!again || again->segments() != plan->segments()) abort();
    for (double t = -1; t < 11; t += 0.05) {
        const ZVRect v = plan->viewAt(t);
        if (!(v.minX() >= -0.01f && v.minY() >= -0.01f && v.maxX() <= 640.01f &&
              v.maxY() <= 480.01f && v.size.width >= 159.9f))
            abort();
    }
    return 0;
}
