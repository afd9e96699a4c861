#pragma once
#include "ZVPrivate.h"  // library-internal

// Makes a wlroots compositor (sway and its kind) draw every output once more. Their screen
// cast portal copies an output only once something on it changed since its last copy, and
// it keeps one record of changes for all its casts: a cast that starts on a still screen
// after another cast took the last change never gets a picture. Showing a fully
// transparent pixel in a corner of each output for one frame is a change that shows
// nothing; the pixel takes no input and is gone again before the call returns.
#include <chrono>
#include <string>

class ZVWaylandRepaint {
  public:
    // Shows the pixel on every output of the compositor at WAYLAND_DISPLAY (a connection
    // of its own) until the compositor has drawn it, waiting at most `timeout`. False, with
    // *why, where there is no compositor, it offers no layer surfaces (GNOME, which needs
    // none of this) or it drew nothing in time. Any thread.
    static bool repaintOutputs(std::chrono::milliseconds timeout, std::string* why);
};
