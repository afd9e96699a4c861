#include "Platform/Wayland/ZVWaylandKeymapMonitor.h"

#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>
#include <xkbcommon/xkbcommon.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <string>
#include <thread>

#include "Foundation/ZVLog.h"
#include "Keys/ZVKeyboardDefaults.h"
#include "Keys/ZVXkbContext.h"

namespace {

// Set once by start, before the watcher exists; read by the watcher and by refresh.
std::atomic<ZVWaylandKeymapMonitor::Callback> gCallback{nullptr};

// One connection's view of the first seat's keyboard. Its listeners run on the thread that
// dispatches the connection, which owns the whole object.
struct SeatKeyboard {
    wl_display* display = nullptr;
    wl_registry* registry = nullptr;
    wl_seat* seat = nullptr;
    wl_keyboard* keyboard = nullptr;
    std::string keymapText;  // XKB text of the last keymap; empty before the first
    uint32_t group = 0;
    bool changed = false;  // a keymap or group came since the last hand-over
    int32_t repeatDelay = -1;

    ~SeatKeyboard() {
        if (keyboard) wl_keyboard_destroy(keyboard);
        if (seat) wl_seat_destroy(seat);
        if (registry) wl_registry_destroy(registry);
        if (display) wl_display_disconnect(display);
    }
};

void onKeymap(void* data, wl_keyboard*, uint32_t format, int32_t fd, uint32_t size) {
    auto* k = static_cast<SeatKeyboard*>(data);
    if (format == WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1 && size > 0) {
        void* map = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
        if (map != MAP_FAILED) {
            const char* text = static_cast<const char*>(map);
            k->keymapText.assign(text, strnlen(text, size));
            k->changed = true;
            munmap(map, size);
        }
    }
    close(fd);
}
void onEnter(void*, wl_keyboard*, uint32_t, wl_surface*, wl_array*) {}
void onLeave(void*, wl_keyboard*, uint32_t, wl_surface*) {}
void onKey(void*, wl_keyboard*, uint32_t, uint32_t, uint32_t, uint32_t) {}
void onModifiers(void* data, wl_keyboard*, uint32_t, uint32_t, uint32_t, uint32_t, uint32_t group) {
    auto* k = static_cast<SeatKeyboard*>(data);
    if (group != k->group) k->changed = true;
    k->group = group;
}
void onRepeatInfo(void* data, wl_keyboard*, int32_t, int32_t delay) {
    static_cast<SeatKeyboard*>(data)->repeatDelay = delay;
}
const wl_keyboard_listener kKeyboardListener = {onKeymap, onEnter,     onLeave,
                                                onKey,    onModifiers, onRepeatInfo};

void onCapabilities(void* data, wl_seat* seat, uint32_t capabilities) {
    auto* k = static_cast<SeatKeyboard*>(data);
    if ((capabilities & WL_SEAT_CAPABILITY_KEYBOARD) && !k->keyboard) {
        k->keyboard = wl_seat_get_keyboard(seat);
        wl_keyboard_add_listener(k->keyboard, &kKeyboardListener, k);
    }
}
void onSeatName(void*, wl_seat*, const char*) {}
const wl_seat_listener kSeatListener = {onCapabilities, onSeatName};

void onGlobal(void* data, wl_registry* registry, uint32_t name, const char* interface,
              uint32_t version) {
    auto* k = static_cast<SeatKeyboard*>(data);
    if (k->seat || std::strcmp(interface, wl_seat_interface.name) != 0) return;
    // Version 4 brings repeat_info; nothing later is needed.
    k->seat = static_cast<wl_seat*>(
        wl_registry_bind(registry, name, &wl_seat_interface, std::min(version, 4u)));
    wl_seat_add_listener(k->seat, &kSeatListener, k);
}
void onGlobalRemove(void*, wl_registry*, uint32_t) {}
const wl_registry_listener kRegistryListener = {onGlobal, onGlobalRemove};

// A connection to $WAYLAND_DISPLAY that has received the first seat's keymap; nullptr when
// no compositor answers or it sends no keymap.
std::unique_ptr<SeatKeyboard> openSeatKeyboard() {
    auto k = std::make_unique<SeatKeyboard>();
    k->display = wl_display_connect(nullptr);
    if (!k->display) return nullptr;
    k->registry = wl_display_get_registry(k->display);
    wl_registry_add_listener(k->registry, &kRegistryListener, k.get());
    // The globals, then the seat's capabilities, then the keyboard's keymap and repeat.
    for (int i = 0; i < 3; ++i) {
        if (wl_display_roundtrip(k->display) < 0) return nullptr;
    }
    if (k->keymapText.empty()) return nullptr;
    return k;
}

// A keymap of the text in a context of its own; nullptr when it does not compile.
xkb_keymap* compile(const std::string& text) {
    xkb_context* context = ZVNewXkbContext(XKB_CONTEXT_NO_ENVIRONMENT_NAMES);
    if (!context) return nullptr;
    xkb_keymap* keymap = xkb_keymap_new_from_string(
        context, text.c_str(), XKB_KEYMAP_FORMAT_TEXT_V1, XKB_KEYMAP_COMPILE_NO_FLAGS);
    xkb_context_unref(context);  // the keymap keeps its own reference
    return keymap;
}

// The keymap the system's names give; nullptr when it names none or they do not compile.
xkb_keymap* systemKeymap() {
    ZVXkbNames names = ZVSystemXkbNames();
    if (names.empty()) return nullptr;
    xkb_context* context = ZVNewXkbContext(XKB_CONTEXT_NO_ENVIRONMENT_NAMES);
    if (!context) return nullptr;
    xkb_rule_names rmlvo{};
    auto orNull = [](const std::string& s) { return s.empty() ? nullptr : s.c_str(); };
    rmlvo.rules = orNull(names.rules);
    rmlvo.model = orNull(names.model);
    rmlvo.layout = orNull(names.layout);
    rmlvo.variant = orNull(names.variant);
    rmlvo.options = orNull(names.options);
    xkb_keymap* keymap = xkb_keymap_new_from_names(context, &rmlvo, XKB_KEYMAP_COMPILE_NO_FLAGS);
    xkb_context_unref(context);
    if (!keymap)
        ZVLog("The system's keyboard setting (layout \"%s\") does not compile",
              names.layout.c_str());
    return keymap;
}

// The watcher: owns the connection for its whole life.
void watch(std::unique_ptr<SeatKeyboard> k) {
    while (wl_display_dispatch(k->display) >= 0) {
        if (!k->changed) continue;
        k->changed = false;
        if (xkb_keymap* keymap = compile(k->keymapText)) gCallback.load()(keymap, k->group);
    }
    // The compositor went away; the last keymap stays in use.
}

// Hands the current keymap to `callback`; the compositor's connection when the keymap
// came from it (for a watcher to follow), nullptr otherwise. *found says whether any came.
std::unique_ptr<SeatKeyboard> handOver(ZVWaylandKeymapMonitor::Callback callback, bool* found) {
    *found = false;
    if (auto k = openSeatKeyboard()) {
        if (xkb_keymap* keymap = compile(k->keymapText)) {
            k->changed = false;
            callback(keymap, k->group);
            *found = true;
            return k;
        }
        ZVLog("The compositor's keymap does not compile: key names follow the system's setting");
    }
    if (xkb_keymap* keymap = systemKeymap()) {
        callback(keymap, 0);
        *found = true;
    }
    return nullptr;
}

}  // namespace

bool ZVWaylandKeymapMonitor::start(Callback callback) {
    gCallback.store(callback);
    bool found = false;
    std::unique_ptr<SeatKeyboard> k = handOver(callback, &found);
    // Detached: it holds only its connection, and ends when the compositor goes away.
    if (k) std::thread(watch, std::move(k)).detach();
    return found;
}

bool ZVWaylandKeymapMonitor::refresh() {
    Callback callback = gCallback.load();
    if (!callback) return false;
    bool found = false;
    handOver(callback, &found);
    return found;
}

std::optional<std::chrono::milliseconds> ZVWaylandKeymapMonitor::repeatDelay() {
    std::unique_ptr<SeatKeyboard> k = openSeatKeyboard();
    if (!k || k->repeatDelay < 0) return std::nullopt;
    return std::chrono::milliseconds(k->repeatDelay);
}
