#include "Video/ZVHostInputTracker.h"

#include <cstdlib>
#include <cstring>

#include "Keys/SRKeyNaming.h"
#include "Keys/ZVKeyCodeTable.h"
#include "Video/ZVHostApplication.h"

namespace {
// Macintosh virtual key codes 0x36 to 0x3F are the modifier keys (Command, Shift, Caps
// Lock, Option, Control, their right-hand twins, Function): they show in the flags, not
// as keys of their own.
uint32_t cocoaBitOfModifierKey(int32_t macKeyCode) {
    switch (macKeyCode) {
        case kVK_Shift:
        case kVK_RightShift:
            return kSRCocoaShiftKeyMask;
        case kVK_Control:
        case kVK_RightControl:
            return kSRCocoaControlKeyMask;
        case kVK_Option:
        case kVK_RightOption:
            return kSRCocoaOptionKeyMask;
        case kVK_Command:
        case kVK_RightCommand:
            return kSRCocoaCommandKeyMask;
        default:
            return 0;  // Function has no bit of its own here
    }
}

bool isModifierKey(int32_t macKeyCode) {
    return macKeyCode >= kVK_RightCommand && macKeyCode <= kVK_Function;
}
}  // namespace

uint32_t ZVHostInputTracker::modifiersNow() const {
    uint32_t flags = _capsLock ? kZVAlphaShiftKeyMask : 0;
    for (auto& [key, bit] : _modifierKeysDown) flags |= bit;
    return flags;
}

void ZVHostInputTracker::setCapsLock(bool on) {
    ZVLockGuard guard(_lock);
    _capsLock = on;
}

void ZVHostInputTracker::onKey(uint32_t key, int32_t macKeyCode, bool pressed,
                               Clock::time_point when) {
    if (macKeyCode < 0) return;
    ZVLockGuard guard(_lock);
    if (isModifierKey(macKeyCode)) {
        // The modifiers of a key stroke are those held when its event happened, followed
        // here from the same events, so a later key is never mixed in.
        if (macKeyCode == kVK_CapsLock) {
            if (pressed) _capsLock = !_capsLock;
        } else if (pressed) {
            _modifierKeysDown[key] = cocoaBitOfModifierKey(macKeyCode);
        } else {
            _modifierKeysDown.erase(key);
        }
        return;
    }
    if (!pressed) {
        _heldKeys.erase(key);
        if (_lastKey == key) _lastKey = 0;
        return;
    }
    uint32_t flags = modifiersNow();
    uint8_t entry[8];
    std::memcpy(entry, &flags, 4);
    std::memcpy(entry + 4, &macKeyCode, 4);
    _heldKeys.try_emplace(key, HeldKey{macKeyCode, when});
    _lastKey = key;
    _strokes.insert(_strokes.end(), entry, entry + 8);
}

void ZVHostInputTracker::onButton(int64_t bit, bool pressed, Clock::time_point when,
                                  std::optional<std::pair<int, int>> at) {
    ZVLockGuard guard(_lock);
    if (!pressed) {
        _buttonsHeld &= ~bit;
        if (bit == kZVMouseLeftButton) _doubleClickHeld = false;
        return;
    }
    _buttonsHeld |= bit;
    _buttonsLatched |= bit;
    if (bit != kZVMouseLeftButton || !at) return;
    if (_haveLeftPress && when - _lastLeftPress <= kDoubleClickTime &&
        std::abs(at->first - _lastLeftAt.first) <= kDoubleClickDistance &&
        std::abs(at->second - _lastLeftAt.second) <= kDoubleClickDistance) {
        _doubleClickHeld = _doubleClickLatched = true;
        _haveLeftPress = false;  // a third quick press starts a new pair
        return;
    }
    _haveLeftPress = true;
    _lastLeftPress = when;
    _lastLeftAt = *at;
}

uint32_t ZVHostInputTracker::modifierFlags() {
    ZVLockGuard guard(_lock);
    return modifiersNow();
}

int64_t ZVHostInputTracker::keyCode() {
    ZVLockGuard guard(_lock);
    auto it = _heldKeys.find(_lastKey);
    return it == _heldKeys.end() ? -1 : it->second.macKeyCode;
}

bool ZVHostInputTracker::isKeyRepeating(Clock::duration delay) {
    ZVLockGuard guard(_lock);
    auto it = _heldKeys.find(_lastKey);
    return it != _heldKeys.end() && Clock::now() - it->second.since > delay;
}

std::vector<uint8_t> ZVHostInputTracker::takeKeyStrokes() {
    ZVLockGuard guard(_lock);
    return std::exchange(_strokes, {});
}

int64_t ZVHostInputTracker::takeMouseButtonsState() {
    ZVLockGuard guard(_lock);
    int64_t state = _buttonsHeld | _buttonsLatched;
    if (_doubleClickHeld || _doubleClickLatched) state |= kZVMouseDoubleClick;
    _buttonsLatched = 0;
    _doubleClickLatched = false;
    return state;
}
