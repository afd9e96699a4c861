#include "Platform/Wayland/ZVWaylandRepaint.h"

#include <poll.h>
#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>

#include <cerrno>
#include <string_view>
#include <vector>

namespace {
// The two interfaces of wlr-layer-shell-unstable-v1 used here, as wayland-scanner writes
// them from the protocol's description (no Debian package ships that description).
const wl_interface* gNoTypes[] = {nullptr, nullptr, nullptr, nullptr};
const wl_message kLayerSurfaceRequests[] = {{"set_size", "uu", gNoTypes},
                                            {"set_anchor", "u", gNoTypes},
                                            {"set_exclusive_zone", "i", gNoTypes},
                                            {"set_margin", "iiii", gNoTypes},
                                            {"set_keyboard_interactivity", "u", gNoTypes},
                                            {"get_popup", "o", gNoTypes},
                                            {"ack_configure", "u", gNoTypes},
                                            {"destroy", "", gNoTypes}};
const wl_message kLayerSurfaceEvents[] = {{"configure", "uuu", gNoTypes}, {"closed", "", gNoTypes}};
const wl_interface kLayerSurfaceInterface = {"zwlr_layer_surface_v1", 1, 8,
                                             kLayerSurfaceRequests,   2, kLayerSurfaceEvents};
const wl_interface* gGetLayerSurfaceTypes[] = {&kLayerSurfaceInterface, &wl_surface_interface,
                                               &wl_output_interface, nullptr, nullptr};
const wl_message kLayerShellRequests[] = {{"get_layer_surface", "no?ous", gGetLayerSurfaceTypes}};
const wl_interface kLayerShellInterface = {"zwlr_layer_shell_v1", 1, 1,
                                           kLayerShellRequests,   0, nullptr};
enum : uint32_t { kGetLayerSurface = 0 };
enum : uint32_t { kSetSize = 0, kSetAnchor = 1, kAckConfigure = 6, kDestroyLayerSurface = 7 };
constexpr uint32_t kOverlayLayer = 3, kAnchorTopLeft = 1 | 4;

// One output's pixel. Its listeners run on the calling thread, in the dispatch below.
struct Pixel {
    wl_surface* surface = nullptr;
    wl_proxy* layer = nullptr;
    wl_callback* frame = nullptr;
    wl_buffer* buffer = nullptr;  // shared by all pixels, owned by the connection
    bool attached = false;
    bool finished = false;  // drawn, or closed by the compositor
};

void onConfigure(void* data, wl_proxy* layer, uint32_t serial, uint32_t, uint32_t) {
    auto* p = static_cast<Pixel*>(data);
    wl_proxy_marshal_flags(layer, kAckConfigure, nullptr, wl_proxy_get_version(layer), 0, serial);
    if (!p->attached) {
        p->attached = true;
        wl_surface_attach(p->surface, p->buffer, 0, 0);
        wl_surface_damage(p->surface, 0, 0, 1, 1);
        // Sent once the output was drawn with the pixel on it.
        static const wl_callback_listener done = {
            [](void* d, wl_callback*, uint32_t) { static_cast<Pixel*>(d)->finished = true; }};
        p->frame = wl_surface_frame(p->surface);
        wl_callback_add_listener(p->frame, &done, p);
    }
    wl_surface_commit(p->surface);
}
void onClosed(void* data, wl_proxy*) {
    static_cast<Pixel*>(data)->finished = true;
}
// The listener table in the event order of kLayerSurfaceEvents.
struct LayerSurfaceListener {
    void (*configure)(void*, wl_proxy*, uint32_t, uint32_t, uint32_t);
    void (*closed)(void*, wl_proxy*);
};
const LayerSurfaceListener kLayerSurfaceListener = {onConfigure, onClosed};

struct Connection {
    wl_display* display = nullptr;
    wl_registry* registry = nullptr;
    wl_compositor* compositor = nullptr;
    wl_shm* shm = nullptr;
    wl_proxy* shell = nullptr;
    std::vector<wl_output*> outputs;
    wl_shm_pool* pool = nullptr;
    wl_buffer* buffer = nullptr;
    wl_region* noInput = nullptr;
    std::vector<Pixel> pixels;

    ~Connection() {
        for (Pixel& p : pixels) {
            if (p.frame) wl_callback_destroy(p.frame);
            if (p.layer) {
                wl_proxy_marshal_flags(p.layer, kDestroyLayerSurface, nullptr,
                                       wl_proxy_get_version(p.layer), WL_MARSHAL_FLAG_DESTROY);
            }
            if (p.surface) wl_surface_destroy(p.surface);
        }
        if (noInput) wl_region_destroy(noInput);
        if (buffer) wl_buffer_destroy(buffer);
        if (pool) wl_shm_pool_destroy(pool);
        for (wl_output* o : outputs) wl_output_destroy(o);
        if (shell) wl_proxy_destroy(shell);
        if (shm) wl_shm_destroy(shm);
        if (compositor) wl_compositor_destroy(compositor);
        if (registry) wl_registry_destroy(registry);
        if (display) {
            wl_display_flush(display);  // the pixels go before the connection does
            wl_display_disconnect(display);
        }
    }
};

void onGlobal(void* data, wl_registry* registry, uint32_t name, const char* interface, uint32_t) {
    auto* c = static_cast<Connection*>(data);
    const std::string_view is(interface);
    if (is == wl_compositor_interface.name && !c->compositor)
        c->compositor = static_cast<wl_compositor*>(
            wl_registry_bind(registry, name, &wl_compositor_interface, 1));
    else if (is == wl_shm_interface.name && !c->shm)
        c->shm = static_cast<wl_shm*>(wl_registry_bind(registry, name, &wl_shm_interface, 1));
    else if (is == kLayerShellInterface.name && !c->shell)
        c->shell =
            static_cast<wl_proxy*>(wl_registry_bind(registry, name, &kLayerShellInterface, 1));
    else if (is == wl_output_interface.name)
        c->outputs.push_back(
            static_cast<wl_output*>(wl_registry_bind(registry, name, &wl_output_interface, 1)));
}
void onGlobalRemove(void*, wl_registry*, uint32_t) {}
const wl_registry_listener kRegistryListener = {onGlobal, onGlobalRemove};

// A 1 x 1 buffer whose one pixel is fully transparent; false when no memory can be shared.
bool makeClearPixel(Connection& c) {
    const int fd = memfd_create("zorvan-clear-pixel", MFD_CLOEXEC);
    if (fd < 0) return false;
    if (ftruncate(fd, 4) != 0) {  // zero-filled: ARGB 0, 0, 0, 0
        close(fd);
        return false;
    }
    c.pool = wl_shm_create_pool(c.shm, fd, 4);
    close(fd);  // the request carries its own copy
    c.buffer = wl_shm_pool_create_buffer(c.pool, 0, 1, 1, 4, WL_SHM_FORMAT_ARGB8888);
    return true;
}
}  // namespace

bool ZVWaylandRepaint::repaintOutputs(std::chrono::milliseconds timeout, std::string* why) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    auto fail = [&](const char* reason) {
        if (why) *why = reason;
        return false;
    };
    Connection c;
    c.display = wl_display_connect(nullptr);
    if (!c.display) return fail("no Wayland compositor answers (WAYLAND_DISPLAY)");
    c.registry = wl_display_get_registry(c.display);
    wl_registry_add_listener(c.registry, &kRegistryListener, &c);
    if (wl_display_roundtrip(c.display) < 0) return fail("the Wayland compositor went away");
    if (!c.shell || !c.compositor || !c.shm)
        return fail("the Wayland compositor offers no layer surfaces");
    if (c.outputs.empty()) return fail("the Wayland compositor has no output");
    if (!makeClearPixel(c)) return fail("no memory can be shared with the Wayland compositor");
    c.noInput = wl_compositor_create_region(c.compositor);
    c.pixels.resize(c.outputs.size());  // never resized again: listeners point into it
    for (size_t i = 0; i < c.outputs.size(); ++i) {
        Pixel& p = c.pixels[i];
        p.buffer = c.buffer;
        p.surface = wl_compositor_create_surface(c.compositor);
        wl_surface_set_input_region(p.surface, c.noInput);
        p.layer = wl_proxy_marshal_flags(c.shell, kGetLayerSurface, &kLayerSurfaceInterface, 1, 0,
                                         nullptr, p.surface, c.outputs[i], kOverlayLayer, "zorvan");
        wl_proxy_add_listener(p.layer,
                              reinterpret_cast<void (**)(void)>(
                                  const_cast<LayerSurfaceListener*>(&kLayerSurfaceListener)),
                              &p);
        wl_proxy_marshal_flags(p.layer, kSetSize, nullptr, 1, 0, 1u, 1u);
        wl_proxy_marshal_flags(p.layer, kSetAnchor, nullptr, 1, 0, kAnchorTopLeft);
        wl_surface_commit(p.surface);  // without a buffer: asks for the first configure
    }
    auto allDrawn = [&] {
        for (const Pixel& p : c.pixels)
            if (!p.finished) return false;
        return true;
    };
    while (!allDrawn()) {
        while (wl_display_prepare_read(c.display) != 0)
            if (wl_display_dispatch_pending(c.display) < 0)
                return fail("the Wayland compositor refused the pixel");
        if (allDrawn()) {
            wl_display_cancel_read(c.display);
            break;
        }
        wl_display_flush(c.display);
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd fd{wl_display_get_fd(c.display), POLLIN, 0};
        const int ready = left.count() > 0 ? poll(&fd, 1, int(left.count())) : 0;
        if (ready <= 0) {
            wl_display_cancel_read(c.display);
            if (ready < 0 && errno == EINTR) continue;
            return fail("the Wayland compositor drew nothing in time");
        }
        if (wl_display_read_events(c.display) < 0 || wl_display_dispatch_pending(c.display) < 0)
            return fail("the Wayland compositor refused the pixel");
    }
    return true;
}
