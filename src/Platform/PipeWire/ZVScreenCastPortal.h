#pragma once
#include "ZVPrivate.h"  // library-internal

// The desktop portal's ScreenCast interface over D-Bus (GIO's GDBus, the session bus):
// CreateSession, SelectSources, Start and OpenPipeWireRemote, each answered by its
// Request object's Response signal. The calls block the calling thread: the signals are
// dispatched on a private GMainContext that only this thread runs while it waits, so the
// host's own GLib loop (if any) never sees them. The portal's restore token is kept per
// user (ZVScreenCastTokenFile), so the dialog is shown once per desktop, not per recording.
#include <cstdint>
#include <optional>
#include <string>

#include "Platform/PipeWire/ZVScreenCastGrant.h"

// What the portal says it can share, before anything is asked.
struct ZVScreenCastOffer {
    uint32_t version = 0;
    uint32_t sourceTypes = 0;  // ZVScreenCastSourceType bits
    uint32_t cursorModes = 0;  // ZVScreenCastCursorMode bits
};

class ZVScreenCastPortal {
  public:
    // Asks the portal for a grant as `request` says. Progress worth telling the user (a
    // kept token dropped, a token that could not be kept) goes to `notice` as one line
    // each. nullopt with *error as one line (no session bus, no portal, no ScreenCast,
    // refused or dialog closed, PipeWire not reachable). The grant keeps the portal
    // session open while any copy of it lives. Any thread without a GLib loop running.
    static std::optional<ZVScreenCastGrant> open(const ZVScreenCastRequest& request,
                                                 std::string* error);

    // The portal's offer; nullopt with *error as open() says it. Any thread.
    static std::optional<ZVScreenCastOffer> offer(std::string* error);

    // The cursor mode to ask for from the offered `modes`: metadata when offered and
    // preferred, else embedded, else hidden. Any thread.
    static uint32_t chooseCursorMode(uint32_t modes, bool preferMetadata);

    // open() as the display server's opener. Any thread.
    static ZVScreenCastOpener opener() { return &open; }
};
