#pragma once
#include "ZVPrivate.h"  // library-internal

// One captured picture of a recording with everything that was true when it was taken:
// the per-frame record (mouse, cursor, buttons, key, modifiers, time), the keys typed since
// the previous frame and their text, and the drawing of the cursor into the pixels.
//
// A frame has no lock: it belongs to one stage at a time and passes between stages through
// queues; the cursor cache is changed only by the thread that draws.
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Video/ZVCursorEntry.h"
#include "Video/ZVDamage.h"
#include "Video/ZVFrameInfo.h"
#include "Video/ZVPixelBuffer.h"

class ZVMovieFrame : public ZVPixelBuffer {
  public:
    // A frame whose pixel buffer has info.dimensions and whose record is `info`; no key
    // strokes, no cursor. nullptr for empty dimensions (after the log line of
    // ZVPixelBuffer::initWithSize); throws ZVException when no buffer can be had. Any thread.
    static std::shared_ptr<ZVMovieFrame> initWithInfo(const ZVFrameInfo& info);
    // The same as initWithInfo. Any thread.
    static std::shared_ptr<ZVMovieFrame> movieFrameWithInfo(const ZVFrameInfo& info);
    // A frame whose record is `info` and whose pixels are those of `pixels`, shared until
    // something looks at them (ZVPixelBuffer::sharePixelsOf): no buffer of its own is taken.
    // Any thread.
    static std::shared_ptr<ZVMovieFrame> movieFrameWithInfo(
        const ZVFrameInfo& info, std::shared_ptr<const ZVPixelBuffer> pixels);
    // A frame whose record is all zero except dimensions = size. Any thread.
    static std::shared_ptr<ZVMovieFrame> movieFrameWithSize(ZVSize size);

    ~ZVMovieFrame() override;

    // The whole record by value; setInfo replaces it (the pixel buffer is not resized).
    // Owner's thread.
    ZVFrameInfo info() const { return _info; }
    void setInfo(const ZVFrameInfo& info) { _info = info; }
    double timestamp() const { return _info.timestamp; }
    void setTimestamp(double timestamp) { _info.timestamp = timestamp; }

    // Whether the pixels are those of the frame before it in the same stream (its record in
    // the capture file changed nothing), so that a consumer may reuse what it made of that
    // frame. Owner's thread.
    bool pixelsRepeatPrevious() const { return _pixelsRepeatPrevious; }
    void setPixelsRepeatPrevious(bool repeat) { _pixelsRepeatPrevious = repeat; }

    // Where the pixels changed since the frame read before them, in this frame's rows (row
    // 0 first, as baseAddress() and bytesPerRow() walk them); nullopt when that is not
    // known and a consumer must compare the whole picture. Owner's thread.
    const std::optional<ZVDamage>& damage() const { return _damage; }
    void setDamage(std::optional<ZVDamage> damage) { _damage = std::move(damage); }

    // Key-stroke data: 8-byte entries (ZVKeyStroke) as the host supplied them. Setting it
    // does not renew a key text already made. Owner's thread.
    const std::vector<uint8_t>& keyStrokes() const { return _keyStrokes; }
    void setKeyStrokes(std::vector<uint8_t> keyStrokes) { _keyStrokes = std::move(keyStrokes); }
    // The printable text of the key strokes: the text set from outside, or else made once
    // from the key strokes and kept. A key typed with Shift, Control, Option or Command is
    // written as " " + modifier glyphs + key name + " "; a key typed alone as its bare name.
    // Owner's thread.
    const std::string& keyStrokesString();
    // The text of key-stroke entries as keyStrokesString makes it. Any thread.
    static std::string keyStrokesText(const std::vector<uint8_t>& entries);
    // The entries that hold a key, in order: whole entries only (a trailing partial one is
    // not a key), and none of the empty ones (key code -1). Any thread.
    static std::vector<ZVKeyStroke> keyStrokesIn(const std::vector<uint8_t>& entries);
    void setKeyStrokesString(std::string text) { _keyStrokesString = std::move(text); }

    // Blends the cursor into the pixels with its hot spot at `point` (from the bottom-left,
    // y up, the record's mousePointerLocation); asRGBA tells the byte order of the cursor's
    // pixels (else BGRA). A cursor recorded in the other byte order is repaired once per
    // frame and cursor. Only 32-bit cursors of four 8-bit samples are drawn; others log
    // "Unsupported cursor format". `bottomRowFirst` says the buffer's row 0 is the picture's
    // bottom (the capture file's order); the cursor lands on the same picture place.
    // Owner's thread.
    void drawCursor(const ZVCursorEntry& cursor, ZVPoint point, bool asRGBA = false,
                    bool bottomRowFirst = false);

    // The cursor last prepared for drawing, in host byte order; no data when none is.
    // Owner's thread.
    const ZVCursorInfo& currentCursorInfo() const { return _currentCursorInfo; }
    const uint8_t* currentCursorData() const { return _currentCursorData.get(); }
    size_t currentCursorDataSize() const { return _currentCursorDataSize; }

    // A ZVMovieFrame of the same size with the same pixels, record, key strokes, key text
    // and prepared cursor; the copy prepares its cursor again on its first draw. Owner's
    // thread.
    std::shared_ptr<ZVPixelBuffer> copy() const override;

  private:
    ZVMovieFrame() = default;

    struct FreeDeleter {
        void operator()(uint8_t* p) const { std::free(p); }
    };

    // Copies and repairs the cursor's bytes; false (nothing cached) when that fails.
    bool prepareCursor(const ZVCursorEntry& cursor);

    ZVFrameInfo _info{};
    bool _pixelsRepeatPrevious = false;
    std::optional<ZVDamage> _damage;
    std::vector<uint8_t> _keyStrokes;
    std::optional<std::string> _keyStrokesString;
    ZVCursorInfo _currentCursorInfo{};
    std::unique_ptr<uint8_t, FreeDeleter> _currentCursorData;
    size_t _currentCursorDataSize = 0;
    // The bytes the prepared cursor was made from: compared by address and kept alive, so
    // a new cursor can never be mistaken for it at a reused address.
    std::shared_ptr<const std::vector<uint8_t>> _prevCursorData;
};
