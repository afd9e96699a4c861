#pragma once
// The one entry point into the platform layer: which display server, keymap source, audio
// hardware, capture layer, Trash, media toolkit and text drawing this build of the library
// uses (X11, xkbcommon-x11, PulseAudio, openal-soft, GIO, FFmpeg, cairo and pango). Nothing
// of it is installed when the library loads: the sessions and stages take the services
// object below (their factories default to it), and a host or a test may hand in another.
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "Foundation/ZVGeometry.h"
#include "Foundation/ZVPlatformServices.h"

class ZVHostApplication;

// The platform's services, made on the first call and kept for the process (they connect
// to their servers only when first used). Any thread.
const ZVPlatformServices& ZVPlatformDefaults();

// The platform's ready host input: keys and buttons from the display server's input
// events, or on Wayland (which gives clients none) from the kernel's input devices, on a
// thread of its own; nullptr when there are none to read. Then *notice (when given) may
// hold one line for the user saying why and how to enable them. Install it with
// ZVSetSharedApplication. Main thread.
std::shared_ptr<ZVHostApplication> ZVCreatePlatformHostInput(std::string* notice = nullptr);

// A rectangle as the display server's users write it ("WxH+X+Y", X11 root-window pixels
// from the top-left corner), in that native space; nullopt when `text` is no such
// rectangle. Any thread.
std::optional<ZVRect> ZVParseNativeRect(std::string_view text);
