#include "Keys/SRKeyNaming.h"

#include <glib.h>

#include <cmath>
#include <numbers>

#include "Keys/SRKeyCodeTransformer.h"
#include "Keys/SRKeyNamesTable.h"
#include "Keys/SRKeyboardLayout.h"

namespace {

constexpr const char* kControlGlyph = "\u2303";
constexpr const char* kOptionGlyph = "\u2325";
constexpr const char* kShiftGlyph = "\u21E7";
constexpr const char* kCommandGlyph = "\u2318";

// The four modifiers in both encodings; the function bit is the same in both.
struct ModifierBits {
    uint32_t cocoa;
    uint32_t carbon;
};
constexpr ModifierBits kModifierBits[] = {
    {kSRCocoaCommandKeyMask, kSRCarbonCommandKeyMask},
    {kSRCocoaOptionKeyMask, kSRCarbonOptionKeyMask},
    {kSRCocoaControlKeyMask, kSRCarbonControlKeyMask},
    {kSRCocoaShiftKeyMask, kSRCarbonShiftKeyMask},
};

// The key name as the combined strings print it.
std::string printedKeyName(short keyCode) {
    return SRStringForKeyCode(keyCode).value_or(std::string(kSRMissingKeyName));
}

}  // namespace

std::optional<std::string> SRStringForKeyCode(short keyCode) {
    return SRKeyCodeTransformer::sharedTransformer().nameForKeyCode(keyCode);
}

std::string SRStringForCocoaModifierFlags(uint32_t flags) {
    // Always Control, Option, Shift, Command: the order the menus show them in.
    std::string glyphs;
    if (flags & kSRCocoaControlKeyMask) glyphs += kControlGlyph;
    if (flags & kSRCocoaOptionKeyMask) glyphs += kOptionGlyph;
    if (flags & kSRCocoaShiftKeyMask) glyphs += kShiftGlyph;
    if (flags & kSRCocoaCommandKeyMask) glyphs += kCommandGlyph;
    return glyphs;
}

std::string SRStringForCarbonModifierFlags(uint32_t flags) {
    return SRStringForCocoaModifierFlags(SRCarbonToCocoaFlags(flags));
}

std::string SRStringForCocoaModifierFlagsAndKeyCode(uint32_t flags, short keyCode) {
    return SRStringForCocoaModifierFlags(flags) + printedKeyName(keyCode);
}

std::string SRStringForCarbonModifierFlagsAndKeyCode(uint32_t flags, short keyCode) {
    return SRStringForCarbonModifierFlags(flags) + printedKeyName(keyCode);
}

std::string SRReadableStringForCocoaModifierFlagsAndKeyCode(uint32_t flags, short keyCode) {
    // Command, Option, Control, Shift: the spoken order, unlike the glyphs.
    std::string text;
    if (flags & kSRCocoaCommandKeyMask) text += SRKeyNamesTable::localizedString("Command + ");
    if (flags & kSRCocoaOptionKeyMask) text += SRKeyNamesTable::localizedString("Option + ");
    if (flags & kSRCocoaControlKeyMask) text += SRKeyNamesTable::localizedString("Control + ");
    if (flags & kSRCocoaShiftKeyMask) text += SRKeyNamesTable::localizedString("Shift + ");
    return text + printedKeyName(keyCode);
}

std::string SRReadableStringForCarbonModifierFlagsAndKeyCode(uint32_t flags, short keyCode) {
    return SRReadableStringForCocoaModifierFlagsAndKeyCode(SRCarbonToCocoaFlags(flags), keyCode);
}

std::optional<std::string> SRCharacterForKeyCodeAndCocoaFlags(short keyCode, uint32_t flags) {
    std::shared_ptr<const SRKeyboardLayout> layout = SRKeyboardLayout::current();
    if (!layout->hasKeymap()) return SRStringForKeyCode(keyCode);
    // Only Option and Shift choose the character; Control and Command do not.
    bool option = (flags & kSRCocoaOptionKeyMask) != 0;
    bool shift = (flags & kSRCocoaShiftKeyMask) != 0;
    bool keypad = SRKeyCodeTransformer::isKeypadKey(keyCode);
    std::optional<char32_t> c = layout->characterForKeyCode(keyCode, shift, option, keypad);
    if (!c) return SRStringForKeyCode(keyCode);
    gunichar capital = g_unichar_totitle(static_cast<gunichar>(*c));
    char buffer[8];
    int n = g_unichar_to_utf8(capital, buffer);
    return std::string(buffer, static_cast<size_t>(n));
}

std::optional<std::string> SRCharacterForKeyCodeAndCarbonFlags(short keyCode, uint32_t flags) {
    return SRCharacterForKeyCodeAndCocoaFlags(keyCode, SRCarbonToCocoaFlags(flags));
}

uint32_t SRCarbonToCocoaFlags(uint32_t carbonFlags) {
    uint32_t cocoa = carbonFlags & kSRFunctionKeyMask;
    for (const ModifierBits& m : kModifierBits) {
        if (carbonFlags & m.carbon) cocoa |= m.cocoa;
    }
    return cocoa;
}

uint32_t SRCocoaToCarbonFlags(uint32_t cocoaFlags) {
    uint32_t carbon = cocoaFlags & kSRFunctionKeyMask;
    for (const ModifierBits& m : kModifierBits) {
        if (cocoaFlags & m.cocoa) carbon |= m.carbon;
    }
    return carbon;
}

float SRAnimationEaseInOut(float t) {
    constexpr float kPi = std::numbers::pi_v<float>;
    return (std::sin(t * kPi - kPi / 2) + 1) / 2;
}
