#pragma once
#include "ZVPrivate.h"  // library-internal

// The bookkeeping behind the host input contract for a host input object fed with raw key
// and button events (the X server's, the kernel's): the keys and modifiers held, the
// key-strokes stack with the modifiers of each press, the buttons pressed since the last
// report, and the double click. One feeding thread calls the on... methods; the
// recorder's tick asks the rest.
#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <utility>
#include <vector>

#include "Foundation/ZVMutex.h"

class ZVHostInputTracker {
  public:
    using Clock = std::chrono::steady_clock;
    // Two clicks of the left button make a double click when the second comes within this
    // time and distance of the first.
    static constexpr auto kDoubleClickTime = std::chrono::milliseconds(400);
    static constexpr int kDoubleClickDistance = 4;

    // A key went down or up at `when`: `key` is the source's own code for it (not 0), `macKeyCode`
    // its Macintosh virtual key code (negative: a key frames do not store, ignored).
    // Modifier keys show in the flags only; Caps Lock toggles on each press. A press of a
    // key already held (the source's own repeat) keeps its start. Feeder only.
    void onKey(uint32_t key, int32_t macKeyCode, bool pressed, Clock::time_point when);
    // A button (a kZVMouse... bit) went down or up at `when`; `at` is the pointer's
    // position then, when the source knows it (a left press without one never makes a
    // double click). Feeder only.
    void onButton(int64_t bit, bool pressed, Clock::time_point when,
                  std::optional<std::pair<int, int>> at);
    // Caps Lock as it stands before the first event. Any thread.
    void setCapsLock(bool on);

    // The Cocoa flags of the modifier keys held now and of Caps Lock, as the events
    // tell them. Any thread.
    uint32_t modifierFlags();
    // The last non-modifier key pressed and still held, as a Macintosh virtual key code;
    // -1 for none. Any thread.
    int64_t keyCode();
    // True when the held key has been down longer than `delay`. Any thread.
    bool isKeyRepeating(Clock::duration delay);
    // The strokes since the previous call (8 bytes each: uint32 flags, int32 key code);
    // the stack is empty afterwards. Any thread.
    std::vector<uint8_t> takeKeyStrokes();
    // Buttons held now or pressed since the previous call, and the double-click bit while
    // its second press is held or not yet reported. Any thread.
    int64_t takeMouseButtonsState();

  private:
    uint32_t modifiersNow() const ZV_REQUIRES(_lock);

    ZVMutex _lock;  // guards the state below; written by the feeder, read by ticks
    struct HeldKey {
        int32_t macKeyCode;
        Clock::time_point since;
    };
    std::map<uint32_t, HeldKey> _heldKeys ZV_GUARDED_BY(_lock);           // by source key code
    std::map<uint32_t, uint32_t> _modifierKeysDown ZV_GUARDED_BY(_lock);  // with their bits
    bool _capsLock ZV_GUARDED_BY(_lock) = false;
    // The source's code of the last key held; 0 for none (no source gives a key code 0).
    uint32_t _lastKey ZV_GUARDED_BY(_lock) = 0;
    std::vector<uint8_t> _strokes ZV_GUARDED_BY(_lock);
    int64_t _buttonsHeld ZV_GUARDED_BY(_lock) = 0;
    int64_t _buttonsLatched ZV_GUARDED_BY(_lock) = 0;  // pressed since the last report
    bool _doubleClickHeld ZV_GUARDED_BY(_lock) = false;
    bool _doubleClickLatched ZV_GUARDED_BY(_lock) = false;
    bool _haveLeftPress ZV_GUARDED_BY(_lock) = false;
    Clock::time_point _lastLeftPress ZV_GUARDED_BY(_lock);
    std::pair<int, int> _lastLeftAt ZV_GUARDED_BY(_lock);
};
