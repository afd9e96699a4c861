#pragma once
#include "ZVPrivate.h"  // library-internal

// The X connection of the calling thread. XCB connections are thread-safe, but each
// thread keeps its own so that one thread's round trips never queue behind another's
// (the capture tick must not wait on a host thread). Every request that can fail is
// checked by the caller; nothing installs a process-wide error handler, since the host
// may be a toolkit program with its own.
#include <xcb/xcb.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct ZVPixelMemory;
class ZVX11DamageTracker;

// Why the X11 backend refuses a Wayland session: the session's own backend (the desktop
// portal) records it.
inline constexpr const char* kZVX11WaylandRefusal =
    "the X11 backend cannot read the screen of a Wayland session (Xwayland shows only its own "
    "windows); leave out --backend x11 to record it through the desktop portal";

class ZVX11Connection {
  public:
    // The thread's connection, opened on first use and opened again after the server
    // went away; nullptr when no usable X display exists, with the reason in `whyNot`.
    // A Wayland session is refused: Xwayland's root window reads black. Any thread.
    static ZVX11Connection* forThisThread(std::string* whyNot = nullptr);

    // The reason no connection can be made, or empty. Any thread.
    static std::string unavailableReason();

    // Why the thread's connection broke, once (see ZVDisplayServer::takeLostReason): a
    // broken connection is noticed, and a new one tried, by the next forThisThread.
    // Any thread (about its own connection).
    static std::string takeLostReason();

    // Detaches the SHM segment and closes the connection. Owning thread (at its end).
    ~ZVX11Connection();
    ZVX11Connection(const ZVX11Connection&) = delete;
    ZVX11Connection& operator=(const ZVX11Connection&) = delete;

    // The connection, its screen and root window. Owning thread only.
    xcb_connection_t* xcb() const { return _c; }
    xcb_screen_t* screen() const { return _screen; }
    xcb_window_t root() const { return _screen->root; }

    // Which extensions the server offers (XFixes 4, RandR 1.5 and DAMAGE 1.1 at least). Owning
    // thread only.
    bool hasShm() const { return _hasShm; }
    bool hasXFixes() const { return _hasXFixes; }
    bool hasRandR15() const { return _hasRandR15; }
    bool hasDPMS() const { return _hasDPMS; }
    bool hasDamage() const { return _hasDamage; }

    // Interns (and remembers) an atom; XCB_ATOM_NONE on failure. Owning thread only.
    xcb_atom_t atom(const char* name);

    // Bits per pixel of the root's depth in images, and whether the server sends pixel
    // bytes most significant first. Owning thread only.
    int bitsPerPixel() const { return _bitsPerPixel; }
    bool msbFirst() const { return _msbFirst; }

    // The SHM segment of this connection, grown on demand to `bytes`; nullptr when the
    // server cannot attach one (remote display, another IPC namespace): callers then fall
    // back to plain get_image. Owning thread only.
    struct Shm {
        uint32_t seg = 0;  // server-side id
        uint8_t* addr = nullptr;
        size_t size = 0;
    };
    const Shm* shmFor(size_t bytes);

    // The server's id for a pooled buffer's shared memory, attached to this connection on
    // first use (and detached once the buffer's memory is gone); 0 when the memory is not
    // shared or the server cannot attach it. The connection keeps only a weak reference.
    // Owning thread only.
    uint32_t attachedSegment(const std::shared_ptr<ZVPixelMemory>& memory);

    // What this connection knows of the cursor. Once cursor events are selected, the
    // server tells the connection of every change, so the serial and visibility are
    // fetched again only after one (see ZVX11CursorSerial). Owning thread only.
    struct CursorState {
        bool eventsSelected = false;
        bool known = false;  // serial and hidden describe the cursor shown now
        uint32_t serial = 0;
        bool hidden = true;
    };
    CursorState cursor;

    // What changed on the screen between this thread's reads, made on first use. Owning
    // thread only.
    ZVX11DamageTracker& damage();

    // Reads what the server sent unasked: cursor-change events (which make `cursor`
    // unknown) and errors of requests nobody waits for. Owning thread only.
    void drainEvents();

  private:
    explicit ZVX11Connection(xcb_connection_t* c, int screenNumber);
    void releaseShm();
    // Detaches what was attached for buffers whose memory is gone (all of it with `all`).
    void detachBuffers(bool all);

    xcb_connection_t* _c = nullptr;
    xcb_screen_t* _screen = nullptr;
    bool _hasShm = false;
    bool _hasXFixes = false;
    bool _hasRandR15 = false;
    bool _hasDPMS = false;
    bool _hasDamage = false;
    bool _shmBroken = false;  // an attach failed once: never try again on this connection
    int _bitsPerPixel = 32;
    bool _msbFirst = false;
    uint8_t _xfixesFirstEvent = 0;
    Shm _shm;
    struct Attached {
        std::weak_ptr<ZVPixelMemory> memory;
        uint32_t seg;
    };
    std::vector<Attached> _attached;  // pooled buffers' memory the server has attached
    bool _bufferShmBroken = false;    // an attach of a buffer failed: never try again
    struct Atoms;
    std::unique_ptr<Atoms> _atoms;
    std::unique_ptr<ZVX11DamageTracker> _damage;  // its damage events are drained with the rest
};
