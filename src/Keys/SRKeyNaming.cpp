#include "Keys/SRKeyNaming.h"

#include <cmath>
#include <numbers>

// Placeholder bodies so the tree links while the layout translation is written; the key
// names arrive with SRKeyCodeTransformer.

std::optional<std::string> SRStringForKeyCode(short) {
    return std::nullopt;
}
std::string SRStringForCarbonModifierFlags(uint32_t) {
    return {};
}
std::string SRStringForCocoaModifierFlags(uint32_t) {
    return {};
}
std::string SRStringForCarbonModifierFlagsAndKeyCode(uint32_t, short) {
    return {};
}
std::string SRStringForCocoaModifierFlagsAndKeyCode(uint32_t, short) {
    return {};
}
std::string SRReadableStringForCarbonModifierFlagsAndKeyCode(uint32_t, short) {
    return {};
}
std::string SRReadableStringForCocoaModifierFlagsAndKeyCode(uint32_t, short) {
    return {};
}
std::optional<std::string> SRCharacterForKeyCodeAndCarbonFlags(short, uint32_t) {
    return std::nullopt;
}
std::optional<std::string> SRCharacterForKeyCodeAndCocoaFlags(short, uint32_t) {
    return std::nullopt;
}
uint32_t SRCarbonToCocoaFlags(uint32_t) {
    return 0;
}
uint32_t SRCocoaToCarbonFlags(uint32_t) {
    return 0;
}
float SRAnimationEaseInOut(float t) {
    return (std::sin(t * std::numbers::pi_v<float> - std::numbers::pi_v<float> / 2) + 1) / 2;
}
