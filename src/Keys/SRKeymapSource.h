#pragma once
#include "ZVPrivate.h"  // library-internal

// Where the system's keyboard layout comes from: the display server's keymap and the
// group in effect, followed as they change. The platform services carry one, which the
// stages that name keys offer (SRKeyboardLayout::offerKeymapSource); without it the
// environment decides.
#include <cstdint>

struct xkb_keymap;

struct SRKeymapSource {
    // Receives a keymap of the server and its effective group; takes over the keymap (the
    // only reference; its xkb context is its own).
    using Callback = void (*)(xkb_keymap* keymap, uint32_t group);

    // Hands the current keymap to `callback` on the calling thread, then follows changes
    // on a thread of its own. False, with nothing started, when no keymap can be had.
    // Once per process. Any thread.
    bool (*start)(Callback callback);
    // Reads the keymap again and hands it to the callback given to start. False when
    // start never succeeded or the source no longer answers. Any thread.
    bool (*refresh)();
};
