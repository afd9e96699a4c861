#include "Platform/X11/ZVX11Connection.h"

#include <sys/ipc.h>
#include <sys/shm.h>
#include <xcb/damage.h>
#include <xcb/dpms.h>
#include <xcb/randr.h>
#include <xcb/shm.h>
#include <xcb/xfixes.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <utility>

#include "Foundation/ZVLog.h"
#include "Platform/X11/ZVX11Damage.h"
#include "Video/ZVPixelBufferPool.h"
#include "Video/ZVVideoAllocation.h"

struct ZVX11Connection::Atoms {
    std::map<std::string, xcb_atom_t> byName;
};

namespace {

std::string waylandRefusal() {
    const char* wl = std::getenv("WAYLAND_DISPLAY");
    const char* type = std::getenv("XDG_SESSION_TYPE");
    if ((wl && *wl) || (type && std::strcmp(type, "wayland") == 0)) return kZVX11WaylandRefusal;
    return {};
}

// The thread's connection; destroyed when the thread ends.
thread_local std::unique_ptr<ZVX11Connection> tConnection;
// Why the thread's last connection broke, until someone takes it.
thread_local std::string tLostReason;

std::string displayName() {
    const char* d = std::getenv("DISPLAY");
    return d ? d : "";
}

// One line for a connection that xcb shut down with `code`.
std::string brokenConnection(int code) {
    const char* what = code == XCB_CONN_ERROR ? "the X server went away or closed it"
                       : code == XCB_CONN_CLOSED_MEM_INSUFFICIENT
                           ? "out of memory"
                           : "the X server's data was not understood";
    return ZVFormat("the connection to the X display \"%s\" broke (%s)", displayName().c_str(),
                    what);
}

}  // namespace

std::string ZVX11Connection::unavailableReason() {
    std::string why;
    forThisThread(&why);
    return why;
}

std::string ZVX11Connection::takeLostReason() {
    return std::exchange(tLostReason, std::string());
}

ZVX11Connection* ZVX11Connection::forThisThread(std::string* whyNot) {
    if (std::string refusal = waylandRefusal(); !refusal.empty()) {
        if (whyNot) *whyNot = refusal;
        return nullptr;
    }
    if (tConnection) {
        if (int code = xcb_connection_has_error(tConnection->xcb())) {
            tLostReason = brokenConnection(code);
            tConnection.reset();
        }
    }
    if (!tConnection) {
        int screenNumber = 0;
        xcb_connection_t* c = xcb_connect(nullptr, &screenNumber);
        if (!c || xcb_connection_has_error(c)) {
            if (c) xcb_disconnect(c);
            if (whyNot) {
                const char* d = std::getenv("DISPLAY");
                *whyNot = (d && *d) ? ZVFormat("cannot open the X display \"%s\"", d)
                                    : std::string("no X display (DISPLAY is not set)");
            }
            return nullptr;
        }
        tConnection.reset(new ZVX11Connection(c, screenNumber));
        if (!tConnection->_screen) {
            tConnection.reset();
            if (whyNot) *whyNot = "the X display has no screen";
            return nullptr;
        }
    }
    if (whyNot) whyNot->clear();
    tConnection->drainEvents();
    return tConnection.get();
}

ZVX11Connection::ZVX11Connection(xcb_connection_t* c, int screenNumber)
    : _c(c), _atoms(std::make_unique<Atoms>()) {
    const xcb_setup_t* setup = xcb_get_setup(c);
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(setup);
    for (int i = 0; it.rem && i < screenNumber; ++i) xcb_screen_next(&it);
    if (!it.rem) return;
    _screen = it.data;
    _msbFirst = setup->image_byte_order == XCB_IMAGE_ORDER_MSB_FIRST;
    for (auto f = xcb_setup_pixmap_formats_iterator(setup); f.rem; xcb_format_next(&f))
        if (f.data->depth == _screen->root_depth) _bitsPerPixel = f.data->bits_per_pixel;

    // A request of an extension the server lacks closes the connection: ask whether each
    // one is there first (all at once), then ask the versions of those present.
    xcb_extension_t* exts[] = {&xcb_shm_id, &xcb_xfixes_id, &xcb_randr_id, &xcb_dpms_id,
                               &xcb_damage_id};
    for (auto* e : exts) xcb_prefetch_extension_data(c, e);
    auto present = [c](xcb_extension_t* e) {
        const xcb_query_extension_reply_t* r = xcb_get_extension_data(c, e);
        return r && r->present;
    };
    if (present(&xcb_shm_id)) {
        if (auto* r = xcb_shm_query_version_reply(c, xcb_shm_query_version(c), nullptr)) {
            _hasShm = true;
            ZVVideoUseSharedMemory();  // pooled frames can now be read into directly
            free(r);
        }
    }
    if (present(&xcb_xfixes_id)) {
        if (auto* r =
                xcb_xfixes_query_version_reply(c, xcb_xfixes_query_version(c, 4, 0), nullptr)) {
            _hasXFixes = r->major_version >= 4;
            _xfixesFirstEvent = xcb_get_extension_data(c, &xcb_xfixes_id)->first_event;
            free(r);
        }
    }
    if (present(&xcb_randr_id)) {
        if (auto* r = xcb_randr_query_version_reply(c, xcb_randr_query_version(c, 1, 5), nullptr)) {
            _hasRandR15 = r->major_version > 1 || (r->major_version == 1 && r->minor_version >= 5);
            free(r);
        }
    }
    // DAMAGE keeps its changes in XFixes regions.
    if (_hasXFixes && present(&xcb_damage_id)) {
        if (auto* r =
                xcb_damage_query_version_reply(c, xcb_damage_query_version(c, 1, 1), nullptr)) {
            _hasDamage = r->major_version > 1 || (r->major_version == 1 && r->minor_version >= 1);
            free(r);
        }
    }
    if (present(&xcb_dpms_id)) {
        if (auto* r = xcb_dpms_get_version_reply(c, xcb_dpms_get_version(c, 1, 1), nullptr)) {
            _hasDPMS = true;
            free(r);
        }
    }
}

ZVX11Connection::~ZVX11Connection() {
    detachBuffers(true);
    releaseShm();
    if (_c) xcb_disconnect(_c);
}

ZVX11DamageTracker& ZVX11Connection::damage() {
    if (!_damage) _damage = std::make_unique<ZVX11DamageTracker>(*this);
    return *_damage;
}

void ZVX11Connection::drainEvents() {
    if (!cursor.eventsSelected && !_damage) return;  // nothing is sent unasked otherwise
    while (xcb_generic_event_t* ev = xcb_poll_for_event(_c)) {
        if (_hasXFixes &&
            (ev->response_type & 0x7f) == _xfixesFirstEvent + XCB_XFIXES_CURSOR_NOTIFY)
            cursor.known = false;
        free(ev);
    }
}

xcb_atom_t ZVX11Connection::atom(const char* name) {
    auto found = _atoms->byName.find(name);
    if (found != _atoms->byName.end()) return found->second;
    xcb_atom_t a = XCB_ATOM_NONE;
    auto cookie = xcb_intern_atom(_c, 1, static_cast<uint16_t>(std::strlen(name)), name);
    if (auto* r = xcb_intern_atom_reply(_c, cookie, nullptr)) {
        a = r->atom;
        free(r);
    }
    _atoms->byName[name] = a;
    return a;
}

void ZVX11Connection::releaseShm() {
    if (!_shm.addr) return;
    if (_c && !xcb_connection_has_error(_c)) {
        xcb_shm_detach(_c, _shm.seg);
        xcb_flush(_c);
    }
    shmdt(_shm.addr);
    _shm = Shm{};
}

const ZVX11Connection::Shm* ZVX11Connection::shmFor(size_t bytes) {
    if (!_hasShm || _shmBroken) return nullptr;
    if (_shm.addr && _shm.size >= bytes) return &_shm;
    releaseShm();
    int id = shmget(IPC_PRIVATE, bytes, IPC_CREAT | 0600);
    if (id < 0) {
        _shmBroken = true;
        return nullptr;
    }
    void* addr = shmat(id, nullptr, 0);
    if (addr == reinterpret_cast<void*>(-1)) {
        shmctl(id, IPC_RMID, nullptr);
        _shmBroken = true;
        return nullptr;
    }
    uint32_t seg = xcb_generate_id(_c);
    xcb_generic_error_t* err =
        xcb_request_check(_c, xcb_shm_attach_checked(_c, seg, static_cast<uint32_t>(id), 0));
    // The server has attached (or refused) by now; the segment goes away once both
    // sides have detached, even if this process dies.
    shmctl(id, IPC_RMID, nullptr);
    if (err) {
        free(err);
        shmdt(addr);
        _shmBroken = true;
        return nullptr;
    }
    _shm.seg = seg;
    _shm.addr = static_cast<uint8_t*>(addr);
    _shm.size = bytes;
    return &_shm;
}

void ZVX11Connection::detachBuffers(bool all) {
    const bool connected = _c && !xcb_connection_has_error(_c);
    std::erase_if(_attached, [&](const Attached& a) {
        if (!all && !a.memory.expired()) return false;
        if (connected) xcb_shm_detach(_c, a.seg);  // an error would come as an event
        return true;
    });
    if (all && connected) xcb_flush(_c);
}

uint32_t ZVX11Connection::attachedSegment(const std::shared_ptr<ZVPixelMemory>& memory) {
    if (!memory || memory->id < 0 || !_hasShm || _bufferShmBroken) return 0;
    detachBuffers(false);
    for (const Attached& a : _attached)
        if (!a.memory.owner_before(memory) && !memory.owner_before(a.memory)) return a.seg;
    const uint32_t seg = xcb_generate_id(_c);
    xcb_generic_error_t* err = xcb_request_check(
        _c, xcb_shm_attach_checked(_c, seg, static_cast<uint32_t>(memory->id), 0));
    if (err) {
        // A server in another IPC namespace, or one that cannot attach a segment already
        // marked for removal: buffers are read through the connection's own segment.
        free(err);
        _bufferShmBroken = true;
        return 0;
    }
    _attached.push_back({memory, seg});
    return seg;
}
