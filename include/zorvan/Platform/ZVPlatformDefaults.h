#pragma once
// The one entry point into the platform layer: which display server, keymap source, audio
// hardware, capture layer, Trash, media toolkit and text drawing this build of the library
// uses (X11, xkbcommon-x11, PulseAudio, openal-soft, GIO, FFmpeg, cairo and pango). Nothing
// of it is installed when the library loads: the sessions and stages take the services
// object below (their factories default to it), and a host or a test may hand in another.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Foundation/ZVGeometry.h"
#include "Foundation/ZVPlatformServices.h"

class ZVHostApplication;

// Where the screen comes from: the X server, or on Wayland the desktop portal's screen
// cast streamed through PipeWire.
enum class ZVDisplayBackend { automatic, x11, wayland };

// What a host asks of the platform beyond its defaults.
struct ZVPlatformOptions {
    ZVDisplayBackend backend = ZVDisplayBackend::automatic;  // automatic: by the session
    // Wayland: show the portal's sharing dialog even where the user's choice was kept.
    bool askAnew = false;
    // Wayland: ask the portal for a window instead of a monitor.
    bool shareWindow = false;
    // Lines the user should read (a kept permission dropped); the log when empty. Called
    // on the thread that first uses the display server.
    std::function<void(const std::string& line)> notice;
};

// The backend the session calls for: Wayland when WAYLAND_DISPLAY is set or
// XDG_SESSION_TYPE is "wayland" (an X11 client there sees Xwayland's black root), X11
// otherwise. Any thread.
ZVDisplayBackend ZVSessionDisplayBackend();

// A new services object for `options`; nothing connects until first used (on Wayland the
// portal's dialog may show then). Any thread.
ZVPlatformServices ZVPlatformServicesFor(const ZVPlatformOptions& options);

// The platform's services for the session's backend, made on the first call and kept for
// the process (they connect to their servers only when first used). Any thread.
const ZVPlatformServices& ZVPlatformDefaults();

// What the backend of `options` can show, one line each, without asking the user anything:
// the X11 monitors ("NAME WxH+X+Y", the primary marked), or on Wayland what the portal
// offers to share (source types and cursor modes; the screens themselves are chosen in its
// dialog). Empty with *error as one line when nothing can be said. Any thread.
std::vector<std::string> ZVPlatformScreenLines(const ZVPlatformOptions& options,
                                               std::string* error);

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
