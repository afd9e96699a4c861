#pragma once
#include "ZVPrivate.h"  // library-internal

// The key strip's text and fade from frame to frame: the keys gathered since the strip
// last faded out, and its opacity on recording time. A key starts the strip at 6 and it
// loses 4 per second, so it stays fully drawn for 1.25 s after the last key, then fades
// over 0.25 s and its text is cleared; it stays while a modifier is held. The compressor
// draws the strip from it and the movie's key track is timed by it, so both show the
// same keys at the same moments.
//
// A value owned by one user at a time (the compressor's worker, or the export's reader).
#include <cstdint>
#include <functional>
#include <string>

#include "Video/ZVFrameInfo.h"

class ZVKeyStripTimeline {
  public:
    // Nothing shown, as at the start of every run; the text stays. Owner only.
    void reset() { _opacity = kNone; }
    // Takes one frame's keys: its key-stroke text (asked for only when the record has
    // key strokes) or its held key. `pictureWidth` bounds the text kept. Owner only.
    void gather(const ZVFrameInfo& info, const std::function<const std::string&()>& typed,
                int32_t pictureWidth);
    // Whether the strip is drawn now, at which opacity (may exceed 1) and with which keys.
    // Owner only.
    bool shown() const { return _opacity > 0; }
    float opacity() const { return _opacity; }
    const std::string& keys() const { return _keys; }
    // The fade advances by `delta` seconds of recording time; a strip gone clears its
    // text. Owner only.
    void advance(double delta);

  private:
    static constexpr float kNone = -1.0f;
    void append(const std::string& text, int32_t pictureWidth);

    float _opacity = kNone;
    std::string _keys;
};
