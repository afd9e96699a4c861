#pragma once
// What a recording says the user did, apart from its pixels: where the pointer was at each
// frame, and the actions (clicks and key strokes) with their times and places. The zoom
// plan is computed from it and the camera follows its pointer. Made from the frame records
// in recording order (ZVReadRecordedInput reads a recording's), or by a host that knows
// more, such as where the caret was.
//
// A value: no lock; any thread, one at a time.
#include <cstdint>
#include <vector>

#include "Foundation/ZVGeometry.h"
#include "Video/ZVFrameInfo.h"

struct ZVPointerSample {
    double time = 0;  // seconds of recording time, as the frame records count it
    ZVPoint at;       // from the picture's bottom-left, y up
};

struct ZVInputAction {
    enum class Kind { click, key };
    Kind kind = Kind::click;
    double time = 0;
    // Where it happened: the pointer for a click; for a key the caret where a host knows
    // it, else the pointer (a recording keeps no caret).
    ZVPoint at;
};

class ZVRecordedInput {
  public:
    // No input yet for a picture of `size`. Any thread.
    explicit ZVRecordedInput(ZVSize size) : _size(size) {}

    // Takes the next frame record: its pointer, a click for every button pressed since the
    // previous record, and `keyStrokes` key actions (the record's key strokes, counted by
    // keyStrokeCount); a record without key-stroke data gives one key action when it holds
    // a key the previous one did not. Records come in recording order. Any thread, one at
    // a time.
    void addRecord(const ZVFrameInfo& info, int keyStrokes);
    // An action the records cannot show; kept in time order. Any thread, one at a time.
    void addAction(const ZVInputAction& action);

    // The typed keys among a record's key-stroke entries (8 bytes each; empty ones and a
    // partial entry at the end do not count). Any thread.
    static int keyStrokeCount(const std::vector<uint8_t>& entries);

    // The picture's size; the time of the last record (0 without one). Any thread.
    ZVSize size() const { return _size; }
    double duration() const { return _duration; }
    const std::vector<ZVPointerSample>& pointer() const { return _pointer; }
    const std::vector<ZVInputAction>& actions() const { return _actions; }
    // Where the pointer was at `time`: the last sample at or before it (the first sample
    // before the first; the picture's middle without any). Any thread.
    ZVPoint pointerAt(double time) const;

  private:
    ZVSize _size;
    double _duration = 0;
    std::vector<ZVPointerSample> _pointer;
    std::vector<ZVInputAction> _actions;
    bool _havePrevious = false;
    int16_t _previousFlags = 0;
    int16_t _previousKey = -1;
};
