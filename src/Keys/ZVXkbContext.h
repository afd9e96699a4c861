#pragma once
#include "ZVPrivate.h"  // library-internal

// xkbcommon contexts for key naming. Each keymap gets a context of its own: xkbcommon
// counts references without atomics, so keymaps that shared a context could not be
// released on two threads at once.
#include <xkbcommon/xkbcommon.h>

// A new context whose messages go to ZVLog (a host's standard error is its own business).
// nullptr when xkbcommon cannot make one. Any thread.
xkb_context* ZVNewXkbContext(xkb_context_flags flags);
