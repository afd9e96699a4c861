// The zoom plan computed from frame records (60 a second, as the recorder makes them), the
// camera's view it gives, and its file. `zorvan zoom` makes one of a recorded capture file
// (tests/tools/zorvan/ZVStorageCommandsTest).
#include <gtest/gtest.h>

#include "ZorvanInternal.h"
#include "support/ZVTestSupport.h"

namespace {
constexpr ZVSize kSize{1280, 720};
constexpr ZVRect kWhole{{0, 0}, kSize};

struct Act {
    double time;
    bool click;  // else a typed key
    ZVPoint at;
};

// Records of `seconds` with the pointer at each action's place from its time on.
ZVRecordedInput recording(double seconds, const std::vector<Act>& acts) {
    ZVRecordedInput input(kSize);
    ZVPoint at{640, 360};
    size_t next = 0;
    for (int i = 0; i <= seconds * 60; ++i) {
        ZVFrameInfo info{};
        info.timestamp = i / 60.0;
        info.keyCode = -1;
        int keys = 0;
        for (; next < acts.size() && acts[next].time <= i / 60.0; ++next) {
            at = acts[next].at;
            info.frameFlags |= acts[next].click ? kZVFrameLeftButton : kZVFrameHasKeyStrokes;
            keys += !acts[next].click;
        }
        info.mousePointerLocation = at;
        input.addRecord(info, keys);
    }
    return input;
}
}  // namespace

TEST(ZVZoomPlan, AClickIsZoomedOnAtItsTimeEasingInAndOutWithoutOvershoot) {
    struct Case {
        ZVPoint click;
        ZVRect full;  // the view at full zoom, kept inside the picture
    } cases[] = {{{400, 300}, ZVMakeRect(80, 120, 640, 360)},
                 {{20, 700}, ZVMakeRect(0, 360, 640, 360)}};
    for (const Case& c : cases) {
        const ZVZoomPlan plan = ZVZoomPlan::automatic(recording(6, {{2, true, c.click}}));
        ASSERT_EQ(plan.segments().size(), 1u);
        EXPECT_EQ(plan.segments()[0], (ZVZoomSegment{2, 3.5, 2, c.click}));
        EXPECT_EQ(plan.viewAt(2), c.full);
        EXPECT_GT(plan.viewAt(2 - 1 / 60.0).size.width, 641);
        EXPECT_EQ(plan.viewAt(1.5), kWhole);
        EXPECT_EQ(plan.viewAt(4), kWhole);
        // In, then out: the size only ever shrinks, then grows, and the view stays inside.
        float last = kSize.width;
        for (double t = 1.5; t <= 4; t += 0.001) {
            const ZVRect v = plan.viewAt(t);
            EXPECT_TRUE(t < 3.5 ? v.size.width <= last : v.size.width >= last) << t;
            EXPECT_GE(v.size.width, 640);
            EXPECT_TRUE(v.minX() >= 0 && v.minY() >= 0 && v.maxX() <= kSize.width + 1e-3 &&
                        v.maxY() <= kSize.height + 1e-3);
            last = v.size.width;
        }
    }
}

// Each plan is also written twice, from two computations, and read back.
TEST(ZVZoomPlan, SegmentsStartAtClicksAndTypingBurstsAndTheSameRecordingWritesTheSameFile) {
    zvtest::TempDir dir;
    struct Case {
        const char* what;
        std::vector<Act> acts;
        size_t segments;
        const char* centre;  // of the first segment
    } cases[] = {
        {"no input", {}, 0, ""},
        {"clicks 1 s apart", {{2, true, {100, 100}}, {3, true, {200, 150}}}, 1, "{150, 125}"},
        {"clicks 5 s apart", {{2, true, {300, 300}}, {7, true, {300, 300}}}, 2, "{300, 300}"},
        {"two keys", {{2, false, {900, 200}}, {2.5, false, {900, 200}}}, 0, ""},
        {"typing",
         {{2, false, {900, 200}}, {2.25, false, {900, 200}}, {2.5, false, {900, 200}}},
         1,
         "{900, 200}"},
        {"clicks far apart", {{2, true, {300, 200}}, {3, true, {1000, 500}}}, 1, "follow"},
    };
    for (const Case& c : cases) {
        const ZVZoomPlan plan = ZVZoomPlan::automatic(recording(10, c.acts));
        for (const char* name : {"a", "b"})
            ZVZoomPlanFile::write(dir.file(name), ZVZoomPlan::automatic(recording(10, c.acts)),
                                  nullptr);
        EXPECT_EQ(zvtest::readBytes(dir.file("a")), zvtest::readBytes(dir.file("b"))) << c.what;
        const auto back = ZVZoomPlanFile::read(dir.file("a"), recording(10, c.acts), {}, nullptr);
        ASSERT_TRUE(back && back->segments() == plan.segments()) << c.what;
        ASSERT_EQ(plan.segments().size(), c.segments) << c.what;
        if (!c.segments) continue;
        const auto& centre = plan.segments()[0].centre;
        EXPECT_EQ(centre ? ZVStringFromPoint(*centre) : "follow", c.centre) << c.what;
        // Once the camera has moved, the last action is well inside the view.
        const Act& last = c.acts.back();
        const ZVRect v = plan.viewAt(last.time + 0.5);
        EXPECT_TRUE(v.size.width < kSize.width && last.at.x > v.minX() + 0.2f * v.size.width &&
                    last.at.x < v.maxX() - 0.2f * v.size.width)
            << c.what;
    }
}
