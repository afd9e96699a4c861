#pragma once
// The one entry point into the platform layer: which display server, keymap source, audio
// hardware, capture layer, Trash, media toolkit and text drawing this build of the library
// uses (X11, xkbcommon-x11, PulseAudio, openal-soft, GIO, FFmpeg, cairo and pango). They
// are installed when the library loads; a host calls these only to go back to them or for
// the few platform services it uses directly.
#include <memory>
#include <optional>
#include <string_view>

#include "Foundation/ZVGeometry.h"

class ZVHostApplication;

// Installs the platform's implementations behind every interface (a test's fakes are
// replaced). Any thread.
void ZVInstallPlatformDefaults();

// The platform's ready host input: keys and buttons from the display server's input
// events, on a thread of its own; nullptr when the display gives none. Install it with
// ZVSetSharedApplication. Main thread.
std::shared_ptr<ZVHostApplication> ZVCreatePlatformHostInput();

// A rectangle as the display server's users write it ("WxH+X+Y", X11 root-window pixels
// from the top-left corner), in that native space; nullopt when `text` is no such
// rectangle. Any thread.
std::optional<ZVRect> ZVParseNativeRect(std::string_view text);
