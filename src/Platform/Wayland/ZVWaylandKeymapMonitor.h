#pragma once
#include "ZVPrivate.h"  // library-internal

// Follows the Wayland compositor's keyboard for key naming: the keymap it hands its
// clients through wl_keyboard (the first seat's), the layout group it reports, and its key
// repeat delay. Where no compositor answers, or its seat has no keyboard, the system's
// XKB names stand in (/etc/default/keyboard, XKB_DEFAULT_*).
#include <chrono>
#include <cstdint>
#include <optional>

struct xkb_keymap;

class ZVWaylandKeymapMonitor {
  public:
    // Receives a keymap and its group; takes over the keymap (the only reference; its xkb
    // context is its own).
    using Callback = void (*)(xkb_keymap* keymap, uint32_t group);

    // Hands the current keymap to `callback` on this thread, then, when it came from the
    // compositor, starts a thread that hands over a fresh one whenever the compositor
    // sends a new keymap or group; that thread lives until the compositor goes. False,
    // with nothing started, when neither the compositor nor the system names a keymap.
    // Once per process. Any thread.
    static bool start(Callback callback);

    // Reads the keymap again (a short connection of its own) and hands it to the callback
    // given to start. False when start never succeeded or nothing answers. Any thread.
    static bool refresh();

    // The compositor's key repeat delay, asked on a short connection of its own; nullopt
    // when no compositor with a keyboard answers. Any thread.
    static std::optional<std::chrono::milliseconds> repeatDelay();
};
