#pragma once
#include "ZVPrivate.h"  // library-internal

// Follows the X server's keyboard for key naming: its keymap and the layout group in
// effect, read through xkbcommon-x11. The keymap watcher has an X connection of its own.
#include <cstdint>

struct xkb_keymap;

class ZVX11KeymapMonitor {
  public:
    // Receives a keymap of the server and its effective group; takes over the keymap (the
    // only reference; its xkb context is its own).
    using Callback = void (*)(xkb_keymap* keymap, uint32_t group);

    // Connects to $DISPLAY, hands the current keymap to `callback` on this thread, then
    // starts a thread that hands over a fresh keymap whenever the server's keymap or group
    // changes (setxkbmap, a layout switch). That thread lives until the display closes.
    // False, with nothing started, when no display with XKB answers. Once per process.
    // Any thread.
    static bool start(Callback callback);

    // Reads the keymap again on a short connection of its own and hands it to the
    // callback given to start. False when start never succeeded or the display no longer
    // answers. Any thread.
    static bool refresh();
};
