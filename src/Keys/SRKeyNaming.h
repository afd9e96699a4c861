#pragma once
#include "ZVPrivate.h"  // library-internal

// Key naming: virtual key codes and modifier-flag words turned into short display strings
// (the key strip of exported movies, the key-stroke text of frames, a host's shortcut
// settings). Key codes are Macintosh virtual key codes (Keys/ZVKeyCodeTable.h); names
// follow the current keyboard layout (Keys/SRKeyboardLayout.h). Strings are UTF-8.
//
// Modifier words come in two encodings and every function exists for both:
//
//   modifier   Cocoa bit   Carbon bit   glyph    readable word
//   Command    0x100000    0x100        U+2318   "Command + "
//   Option     0x80000     0x800        U+2325   "Option + "
//   Control    0x40000     0x1000       U+2303   "Control + "
//   Shift      0x20000     0x200        U+21E7   "Shift + "
//   Function   0x800000    0x800000     none     none
//
// The functions are called from the main thread and from the video compressor's worker;
// all of them may be called from any thread.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

inline constexpr uint32_t kSRCocoaCommandKeyMask = 0x100000;
inline constexpr uint32_t kSRCocoaOptionKeyMask = 0x80000;
inline constexpr uint32_t kSRCocoaControlKeyMask = 0x40000;
inline constexpr uint32_t kSRCocoaShiftKeyMask = 0x20000;
inline constexpr uint32_t kSRCarbonCommandKeyMask = 0x100;
inline constexpr uint32_t kSRCarbonOptionKeyMask = 0x800;
inline constexpr uint32_t kSRCarbonControlKeyMask = 0x1000;
inline constexpr uint32_t kSRCarbonShiftKeyMask = 0x200;
// The same bit in both encodings; carried across by the conversions, never drawn.
inline constexpr uint32_t kSRFunctionKeyMask = 0x800000;

// What the combined strings show in place of a key without a name: the format they are
// built with always printed a missing key this way.
inline constexpr std::string_view kSRMissingKeyName = "(null)";

// The key's name: a fixed name (function keys, arrows, Space, Return, ...), else the
// character the current layout gives the key without modifiers, upper-cased; keypad keys
// are "Pad " + that character (localised "Pad %@"). nullopt for a negative code (-1 is
// "no key" in key-stroke data) and for a key without a name. Any thread.
std::optional<std::string> SRStringForKeyCode(short keyCode);

// The glyphs of the modifiers present, always in the order Control, Option, Shift,
// Command; empty for none. The function bit adds nothing. Any thread.
std::string SRStringForCarbonModifierFlags(uint32_t flags);
std::string SRStringForCocoaModifierFlags(uint32_t flags);

// The glyphs followed by the key name. Any thread.
std::string SRStringForCarbonModifierFlagsAndKeyCode(uint32_t flags, short keyCode);
std::string SRStringForCocoaModifierFlagsAndKeyCode(uint32_t flags, short keyCode);

// The localised words in the order Command, Option, Control, Shift (not the glyph order),
// followed by the key name: "Command + Shift + A". Any thread.
std::string SRReadableStringForCarbonModifierFlagsAndKeyCode(uint32_t flags, short keyCode);
std::string SRReadableStringForCocoaModifierFlagsAndKeyCode(uint32_t flags, short keyCode);

// The character the current layout gives the key with the Option (third level, AltGr) and
// Shift modifiers of `flags` (Control and Command are ignored), capitalised; dead keys
// give their spacing character. Falls back to SRStringForKeyCode when the layout has no
// character for it. Any thread.
std::optional<std::string> SRCharacterForKeyCodeAndCarbonFlags(short keyCode, uint32_t flags);
std::optional<std::string> SRCharacterForKeyCodeAndCocoaFlags(short keyCode, uint32_t flags);

// Each of the four modifier bits mapped to its counterpart; the function bit is kept, all
// other bits are dropped. Any thread.
uint32_t SRCarbonToCocoaFlags(uint32_t carbonFlags);
uint32_t SRCocoaToCarbonFlags(uint32_t cocoaFlags);

// (sin(t*pi - pi/2) + 1) / 2: eases from 0 at t = 0 to 1 at t = 1. Any thread.
float SRAnimationEaseInOut(float t);
