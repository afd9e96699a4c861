#pragma once
// The export camera's plan: when to zoom in on what the user did, how far, and where to.
// A segment is a stretch of recording time shown closer: the camera is at full zoom from
// its start to its end, having moved in over the lead-in before the start, and moves out
// over the same time after the end. The automatic plan puts a segment where a click or a
// burst of typing happens, and keeps it over the actions that follow within the merge gap
// and the hold after the last; segments too close for the camera to go out and in again
// are one.
//
// The plan answers where the camera looks at any moment (viewAt). Every move of the view
// is a critically damped spring's ease that ends where the plan says; moves that overlap
// add up (as a spring retargeted while moving), so the view stays inside the picture and
// never passes a target. The curves are closed forms of recording time, the same at any
// export frame rate.
//
// A value: no lock; any thread, one at a time.
#include <optional>
#include <string>
#include <vector>

#include "Export/ZVRecordedInput.h"
#include "Foundation/ZVGeometry.h"

struct ZVZoomSegment {
    double start = 0;  // full zoom from here (seconds of recording time)
    double end = 0;    // until here
    double level = 2;  // how many times closer
    // Where the view is centred (from the picture's bottom-left, y up; the view is kept
    // inside the picture); nullopt: the view follows the pointer.
    std::optional<ZVPoint> centre;
    bool operator==(const ZVZoomSegment&) const = default;
};

// How the automatic plan is made and how long the camera's moves take.
struct ZVZoomOptions {
    double mergeGap = 2.0;  // actions closer than this share a segment
    double hold = 1.5;      // full zoom lasts this long after the last action
    double leadIn = 0.5;    // each move in, out or along takes this long
    double level = 2.0;     // of the automatic segments
    int burstKeys = 3;      // key strokes in a row (each within the merge gap) that
                            // start a segment; fewer only extend one
};

class ZVZoomPlan {
  public:
    static constexpr double kMinLevel = 1.25;
    static constexpr double kMaxLevel = 4;
    // The middle part of the view in which the pointer may move without the view following.
    static constexpr double kDeadZone = 0.6;

    // The plan of `input` as the rules above make it. Any thread.
    static ZVZoomPlan automatic(const ZVRecordedInput& input, const ZVZoomOptions& options = {});
    // A plan of the given segments (in time order, checked with problem()) over `input`,
    // whose pointer a following segment uses; only options.leadIn counts. Any thread.
    ZVZoomPlan(std::vector<ZVZoomSegment> segments, const ZVRecordedInput& input,
               const ZVZoomOptions& options = {});

    // What is wrong with `segments` for a recording of `size` and `duration`, as
    // "segment N: ..." (counted from 1); empty when nothing is: times within the recording,
    // each ending after it starts and starting after the previous one ends, levels within
    // kMinLevel...kMaxLevel, centres inside the picture. Any thread.
    static std::string problem(const std::vector<ZVZoomSegment>& segments, ZVSize size,
                               double duration);

    const std::vector<ZVZoomSegment>& segments() const { return _segments; }
    ZVSize size() const { return _size; }
    double duration() const { return _duration; }

    // The part of the picture the camera shows at `time` (seconds of recording time), in
    // the picture's pixels from its bottom-left, y up; the whole picture outside segments
    // and their moves. Any thread.
    ZVRect viewAt(double time) const;

  private:
    // A move of the view to `target` that begins at `start` and takes the lead-in.
    struct Move {
        double start;
        ZVRect target;
    };
    void planMoves(const ZVRecordedInput& input);
    ZVRect viewCentredOn(ZVPoint centre, double level) const;
    void moveTo(double start, const ZVRect& target);

    std::vector<ZVZoomSegment> _segments;
    ZVSize _size;
    double _duration = 0;
    double _leadIn = 0.5;
    std::vector<Move> _moves;  // in order of their start
};
