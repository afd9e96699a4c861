// Cursor records and key strokes come from capture files and cursor lists that may be
// damaged or made on a machine of the other byte order. Input: a byte choosing the channel
// order, a 44-byte cursor record, a point (two floats), then the rest split in half between
// cursor pixel bytes and key-stroke bytes. Drawing and the key text must never read or
// write outside their buffers.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "Video/ZVMovieFrame.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const size_t head = 1 + sizeof(ZVCursorInfo) + sizeof(ZVPoint);
    if (size < head) return 0;
    static auto frame = ZVMovieFrame::movieFrameWithSize({64, 48});
    const bool asRGBA = data[0] & 1;
    ZVCursorEntry cursor;
    std::memcpy(&cursor.info, data + 1, sizeof cursor.info);
    ZVPoint point;
    std::memcpy(&point, data + 1 + sizeof cursor.info, sizeof point);
    const size_t rest = size - head;
    const uint8_t* pixels = data + head;
    cursor.data = std::make_shared<const std::vector<uint8_t>>(pixels, pixels + rest / 2);
    frame->drawCursor(cursor, point, asRGBA);
    frame->drawCursor(cursor, point, !asRGBA);  // the cached cursor

    auto keys = ZVMovieFrame::movieFrameWithSize({1, 1});
    keys->setKeyStrokes(std::vector<uint8_t>(pixels + rest / 2, pixels + rest));
    (void)keys->keyStrokesString();
    return 0;
}
