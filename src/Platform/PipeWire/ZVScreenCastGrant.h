#pragma once
#include "ZVPrivate.h"  // library-internal

// What the desktop portal's ScreenCast interface hands over once the user has chosen what
// to share: a PipeWire connection that can reach only the granted streams, and the
// streams themselves. The portal side (ZVScreenCastPortal) makes it; the stream consumer
// and the Wayland display server take it. Plain data; any thread.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Foundation/ZVGeometry.h"
#include "Foundation/ZVLog.h"

// The portal's cursor modes (a bit mask in AvailableCursorModes, one value in a request).
enum ZVScreenCastCursorMode : uint32_t {
    kZVCursorHidden = 1,
    kZVCursorEmbedded = 2,  // drawn into the frames
    kZVCursorMetadata = 4,  // kept out of the frames, sent beside them (SPA_META_Cursor)
};

// The portal's source types (bit mask).
enum ZVScreenCastSourceType : uint32_t {
    kZVSourceMonitor = 1,
    kZVSourceWindow = 2,
    kZVSourceVirtual = 4,
};

struct ZVScreenCastStream {
    uint32_t nodeId = 0;      // the PipeWire node to connect to
    std::string id;           // the portal's own stream id, when it gives one
    uint32_t sourceType = 0;  // ZVScreenCastSourceType, when the portal says (not reliable)
    ZVPoint position;         // logical position in the compositor's space, when given
    ZVSize size;              // logical size, when given (0 x 0: learn it from the stream)
};

struct ZVScreenCastGrant {
    int pipewireFd = -1;  // from OpenPipeWireRemote; the holder owns it and closes it
    std::vector<ZVScreenCastStream> streams;
    uint32_t cursorMode = kZVCursorHidden;  // the mode actually granted
    std::string restoreToken;               // empty when the portal gave none
    // Keeps the portal's session (and the D-Bus connection it belongs to) open while any
    // copy of the grant lives: the portal ends the streams when either goes. Null for a
    // grant made without a portal (a test's own PipeWire source).
    std::shared_ptr<void> session;
};

// What a recording asks the portal for.
struct ZVScreenCastRequest {
    uint32_t sourceTypes = kZVSourceMonitor;
    // Metadata when offered, else embedded, else hidden.
    bool preferCursorMetadata = true;
    bool askAnew = false;  // ignore a kept restore token and show the dialog again
    // Where lines for the user go (a kept token dropped, one that could not be kept); the
    // log when empty. Called on the opener's thread.
    std::function<void(const std::string& line)> notice;

    // Hands `line` to notice, or to the log. The opener's thread.
    void tell(const std::string& line) const {
        if (notice)
            notice(line);
        else
            ZVLog("%s", line.c_str());
    }
};

// Opens a grant; nullopt with *error (one line for the user: what was refused and why)
// when the portal is missing, the user refused or closed the dialog, or PipeWire cannot
// be reached. May block while the user chooses. Any thread but the one running a GLib
// main loop of its own.
using ZVScreenCastOpener =
    std::function<std::optional<ZVScreenCastGrant>(const ZVScreenCastRequest&, std::string* error)>;
