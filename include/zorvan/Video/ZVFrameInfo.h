#pragma once
// The per-frame record and the key-stroke entries that travel with every movie frame. The
// record is stored byte for byte in the capture file, so its layout is fixed: 44 bytes, no
// gaps, the double on a 4-byte boundary.
#include <bit>
#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "Foundation/ZVGeometry.h"

// Bits of ZVFrameInfo::frameFlags.
inline constexpr int16_t kZVFrameLeftButton = 0x1;
inline constexpr int16_t kZVFrameRightButton = 0x2;
inline constexpr int16_t kZVFrameOtherButton = 0x4;
inline constexpr int16_t kZVFrameDoubleClick = 0x8;
inline constexpr int16_t kZVFrameKeyRepeating = 0x10;
// The frame carries key-stroke data; in the capture file chunks follow the record.
inline constexpr int16_t kZVFrameHasKeyStrokes = 0x20;
// The display was zoomed: no cursor is drawn over the frame.
inline constexpr int16_t kZVFrameDisplayZoomed = 0x40;
// The frame's block data is (to be) stored zlib-compressed.
inline constexpr int16_t kZVFrameCompress = 0x80;

// mousePointerIndex when the cursor was hidden.
inline constexpr uint32_t kZVNoCursorIndex = 0x7FFFFFFF;

// A 64-bit float kept on a 4-byte boundary, as the record's layout wants it. It is read
// and written by value only: a reference to a double at such an address would be
// undefined behaviour (and is what test macros and std::min/max would otherwise bind).
class ZVPackedDouble {
  public:
    ZVPackedDouble() = default;
    constexpr ZVPackedDouble(double value) : _words(std::bit_cast<Words>(value)) {}
    constexpr operator double() const { return std::bit_cast<double>(_words); }
    constexpr ZVPackedDouble& operator=(double value) {
        _words = std::bit_cast<Words>(value);
        return *this;
    }
    constexpr ZVPackedDouble& operator+=(double d) { return *this = double(*this) + d; }
    constexpr ZVPackedDouble& operator-=(double d) { return *this = double(*this) - d; }

  private:
    struct Words {
        uint32_t w[2];
    };
    Words _words;
};
static_assert(sizeof(ZVPackedDouble) == 8 && alignof(ZVPackedDouble) == 4);
static_assert(std::is_trivially_copyable_v<ZVPackedDouble>);

#pragma pack(push, 4)
struct ZVFrameInfo {
    uint32_t blocks;               // changed-pixel blocks in the stored record
    uint32_t dataSize;             // bytes of uncompressed block data in the capture file
    ZVPoint mousePointerLocation;  // from the capture rectangle's bottom-left, y up
    ZVSize dimensions;             // the picture's size in pixels
    uint32_t mousePointerIndex;    // "Id" of the cursor shown; kZVNoCursorIndex when hidden
    ZVPackedDouble timestamp;      // seconds since the recording started, pauses left out
    int16_t keyCode;               // virtual key code of the key down, -1 for none
    int16_t frameFlags;            // kZVFrame... bits
    uint32_t flags;                // modifier flags, Cocoa layout
};

// One key typed between two frames, in the byte order of the recording machine.
struct ZVKeyStroke {
    uint32_t modifierFlags;  // Cocoa layout
    int32_t keyCode;         // virtual key code; -1 marks an empty entry
};
#pragma pack(pop)

static_assert(sizeof(ZVFrameInfo) == 44);
static_assert(std::is_trivially_copyable_v<ZVFrameInfo>);
static_assert(offsetof(ZVFrameInfo, blocks) == 0);
static_assert(offsetof(ZVFrameInfo, dataSize) == 4);
static_assert(offsetof(ZVFrameInfo, mousePointerLocation) == 8);
static_assert(offsetof(ZVFrameInfo, dimensions) == 16);
static_assert(offsetof(ZVFrameInfo, mousePointerIndex) == 24);
static_assert(offsetof(ZVFrameInfo, timestamp) == 28);
static_assert(offsetof(ZVFrameInfo, keyCode) == 36);
static_assert(offsetof(ZVFrameInfo, frameFlags) == 38);
static_assert(offsetof(ZVFrameInfo, flags) == 40);
static_assert(sizeof(ZVKeyStroke) == 8);
static_assert(offsetof(ZVKeyStroke, keyCode) == 4);

// Modifier bits of the Cocoa layout that make a key stroke "modified" in the key text:
// Shift 0x20000, Control 0x40000, Option 0x80000, Command 0x100000.
inline constexpr uint32_t kZVKeyStrokeModifierMask = 0x1E0000;
