#include "Video/ZVMovieFrame.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "Foundation/ZVLog.h"
#include "Keys/SRKeyNaming.h"
#include "Video/ZVVideoAllocation.h"

namespace {
// Reverses the four bytes of one 4-byte field (integer or float) in place.
template <typename T>
void reverseField(T& field) {
    static_assert(sizeof(T) == 4);
    uint32_t word;
    std::memcpy(&word, &field, 4);
    word = __builtin_bswap32(word);
    std::memcpy(&field, &word, 4);
}

// A float side truncated toward zero, as an integer that cannot overflow.
int64_t truncatedSide(float v) {
    if (std::isnan(v)) return 0;
    return static_cast<int64_t>(std::clamp(v, -2147483648.0f, 2147483520.0f));
}
}  // namespace

std::shared_ptr<ZVMovieFrame> ZVMovieFrame::initWithInfo(const ZVFrameInfo& info) {
    std::shared_ptr<ZVMovieFrame> frame(new ZVMovieFrame());
    if (!frame->initializeWithSize(info.dimensions)) return nullptr;
    frame->_info = info;
    return frame;
}

std::shared_ptr<ZVMovieFrame> ZVMovieFrame::movieFrameWithInfo(const ZVFrameInfo& info) {
    return initWithInfo(info);
}

std::shared_ptr<ZVMovieFrame> ZVMovieFrame::movieFrameWithInfo(
    const ZVFrameInfo& info, std::shared_ptr<const ZVPixelBuffer> pixels) {
    std::shared_ptr<ZVMovieFrame> frame(new ZVMovieFrame());
    frame->_info = info;
    frame->sharePixelsOf(std::move(pixels));
    return frame;
}

std::shared_ptr<ZVMovieFrame> ZVMovieFrame::movieFrameWithSize(ZVSize size) {
    ZVFrameInfo info{};
    info.dimensions = size;
    return initWithInfo(info);
}

ZVMovieFrame::~ZVMovieFrame() = default;

const std::string& ZVMovieFrame::keyStrokesString() {
    if (!_keyStrokesString) _keyStrokesString = keyStrokesText(_keyStrokes);
    return *_keyStrokesString;
}

std::vector<ZVKeyStroke> ZVMovieFrame::keyStrokesIn(const std::vector<uint8_t>& entries) {
    std::vector<ZVKeyStroke> strokes;
    for (size_t offset = 0; offset + sizeof(ZVKeyStroke) <= entries.size();
         offset += sizeof(ZVKeyStroke)) {
        ZVKeyStroke stroke;
        std::memcpy(&stroke, entries.data() + offset, sizeof stroke);
        if (stroke.keyCode != -1) strokes.push_back(stroke);
    }
    return strokes;
}

std::string ZVMovieFrame::keyStrokesText(const std::vector<uint8_t>& entries) {
    std::string text;
    for (const ZVKeyStroke& stroke : keyStrokesIn(entries)) {
        // Glyphs of the modifiers (none for Caps Lock or Function alone), then the name.
        const std::string key = SRStringForCocoaModifierFlagsAndKeyCode(
            stroke.modifierFlags, static_cast<short>(stroke.keyCode));
        if (stroke.modifierFlags & kZVKeyStrokeModifierMask)
            text += " " + key + " ";
        else
            text += key;
    }
    return text;
}

bool ZVMovieFrame::prepareCursor(const ZVCursorEntry& cursor) {
    const std::vector<uint8_t>& data = *cursor.data;
    _currentCursorInfo = cursor.info;
    const bool otherByteOrder =
        static_cast<int64_t>(_currentCursorInfo.size) != static_cast<int64_t>(data.size());
    if (otherByteOrder) reverseField(_currentCursorInfo.size);

    _currentCursorData.reset();
    _currentCursorDataSize = 0;
    _prevCursorData.reset();
    // A record that matches its bytes in neither byte order would make us read past them.
    if (_currentCursorInfo.size < 0 ||
        static_cast<size_t>(_currentCursorInfo.size) != data.size()) {
        ZVLog("Unsupported cursor format");
        return false;
    }
    const size_t size = static_cast<size_t>(_currentCursorInfo.size);
    // One byte at least, so an empty cursor still counts as prepared.
    auto* bytes = static_cast<uint8_t*>(ZVVideoMalloc(std::max<size_t>(size, 1)));
    if (!bytes) {
        ZVLog("ME-7: drawCursor:atPoint: failed with malloc error");
        return false;
    }
    if (size) std::memcpy(bytes, data.data(), size);
    _currentCursorData.reset(bytes);
    _currentCursorDataSize = size;
    _prevCursorData = cursor.data;

    if (otherByteOrder) {
        ZVCursorInfo& info = _currentCursorInfo;
        reverseField(info.bytesPerRow);
        reverseField(info.bounds.origin.x);
        reverseField(info.bounds.origin.y);
        reverseField(info.bounds.size.width);
        reverseField(info.bounds.size.height);
        reverseField(info.hotSpot.x);
        reverseField(info.hotSpot.y);
        reverseField(info.depth);
        reverseField(info.components);
        reverseField(info.bitsPerComponent);
        const int64_t bits = static_cast<int64_t>(info.components) * info.bitsPerComponent;
        if (bits >= 16) {
            const size_t step = static_cast<size_t>(bits / 8);
            for (size_t offset = 0; step <= size && offset <= size - step; offset += step)
                std::reverse(bytes + offset, bytes + offset + step);
        }
    }
    return true;
}

void ZVMovieFrame::drawCursor(const ZVCursorEntry& cursor, ZVPoint point, bool asRGBA,
                              bool bottomRowFirst) {
    if (!cursor.data) return;
    if (cursor.data.get() != _prevCursorData.get() && !prepareCursor(cursor)) return;

    const ZVCursorInfo& info = _currentCursorInfo;
    if (info.components != 4 || info.bitsPerComponent != 8 || info.depth != 32) {
        ZVLog("Unsupported cursor format");
        return;
    }
    // The blend reads width × 4 bytes of each of height rows, bytesPerRow apart: the
    // record must promise no more than the bytes hold.
    const int64_t width = truncatedSide(info.bounds.size.width);
    const int64_t height = truncatedSide(info.bounds.size.height);
    if (width <= 0 || height <= 0) return;
    if (info.bytesPerRow < width * 4 ||
        static_cast<int64_t>(info.bytesPerRow) * (height - 1) + width * 4 >
            static_cast<int64_t>(_currentCursorDataSize)) {
        ZVLog("Unsupported cursor format");
        return;
    }

    const float x = std::trunc(point.x - info.hotSpot.x);
    float y = std::trunc(static_cast<float>(pixelsHeight()) - point.y - info.hotSpot.y);
    const uint8_t* bytes = _currentCursorData.get();
    int32_t rowBytes = info.bytesPerRow;
    if (bottomRowFirst) {
        // The image's last row goes to the buffer's lowest row of the cursor's place.
        y = static_cast<float>(pixelsHeight() - height) - y;
        bytes += static_cast<ptrdiff_t>(height - 1) * rowBytes;
        rowBytes = -rowBytes;
    }
    if (asRGBA)
        drawRGBAImage(bytes, rowBytes, static_cast<int32_t>(width), static_cast<int32_t>(height),
                      1.0f, {x, y});
    else
        drawBGRAImage(bytes, rowBytes, static_cast<int32_t>(width), static_cast<int32_t>(height),
                      1.0f, {x, y});
}

std::shared_ptr<ZVPixelBuffer> ZVMovieFrame::copy() const {
    std::shared_ptr<ZVMovieFrame> copy(new ZVMovieFrame());
    if (!copy->initializeWithSize(
            {static_cast<float>(pixelsWidth()), static_cast<float>(pixelsHeight())}))
        return nullptr;
    copy->copyPixelsFrom(*this);
    copy->setInfo(_info);
    copy->setKeyStrokes(_keyStrokes);
    copy->_keyStrokesString = _keyStrokesString;
    if (_currentCursorData) {
        auto* bytes =
            static_cast<uint8_t*>(ZVVideoMalloc(std::max<size_t>(_currentCursorDataSize, 1)));
        if (bytes) {
            std::memcpy(bytes, _currentCursorData.get(), _currentCursorDataSize);
            copy->_currentCursorData.reset(bytes);
            copy->_currentCursorDataSize = _currentCursorDataSize;
        }
    }
    copy->_currentCursorInfo = _currentCursorInfo;
    return copy;
}
