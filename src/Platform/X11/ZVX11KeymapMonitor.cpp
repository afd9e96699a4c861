#include "Platform/X11/ZVX11KeymapMonitor.h"

#include <xcb/xcb.h>
// xcb/xkb.h names a field "explicit", which C++ reserves.
#define explicit xkb_explicit
#include <xcb/xkb.h>
#undef explicit
#include <xkbcommon/xkbcommon-x11.h>

#include <atomic>
#include <cstdlib>
#include <thread>

#include "Foundation/ZVLog.h"
#include "Keys/ZVXkbContext.h"

namespace {

// Set once by start, before the watcher exists; read by the watcher and by refresh.
std::atomic<ZVX11KeymapMonitor::Callback> gCallback{nullptr};

struct XkbConnection {
    xcb_connection_t* connection = nullptr;
    int32_t device = -1;
    uint8_t baseEvent = 0;
};

// A connection to $DISPLAY with XKB set up; connection nullptr when there is none.
XkbConnection openXkbConnection() {
    XkbConnection x;
    const char* display = std::getenv("DISPLAY");
    if (!display || !*display) return x;
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(c)) {
        xcb_disconnect(c);
        return x;
    }
    uint16_t major = 0, minor = 0;
    uint8_t baseEvent = 0, baseError = 0;
    if (!xkb_x11_setup_xkb_extension(
            c, XKB_X11_MIN_MAJOR_XKB_VERSION, XKB_X11_MIN_MINOR_XKB_VERSION,
            XKB_X11_SETUP_XKB_EXTENSION_NO_FLAGS, &major, &minor, &baseEvent, &baseError)) {
        ZVLog("The X server on %s has no usable XKB extension: key names follow the environment",
              display);
        xcb_disconnect(c);
        return x;
    }
    int32_t device = xkb_x11_get_core_keyboard_device_id(c);
    if (device == -1) {
        xcb_disconnect(c);
        return x;
    }
    x.connection = c;
    x.device = device;
    x.baseEvent = baseEvent;
    return x;
}

// The server's keymap (in a context of its own) and its effective group; nullptr when
// the server does not answer.
xkb_keymap* readKeymap(const XkbConnection& x, uint32_t* group) {
    xkb_context* context = ZVNewXkbContext(XKB_CONTEXT_NO_ENVIRONMENT_NAMES);
    if (!context) return nullptr;
    xkb_keymap* keymap = xkb_x11_keymap_new_from_device(context, x.connection, x.device,
                                                        XKB_KEYMAP_COMPILE_NO_FLAGS);
    xkb_context_unref(context);  // the keymap keeps its own reference
    if (!keymap) return nullptr;
    *group = 0;
    if (xkb_state* state = xkb_x11_state_new_from_device(keymap, x.connection, x.device)) {
        *group = xkb_state_serialize_layout(state, XKB_STATE_LAYOUT_EFFECTIVE);
        xkb_state_unref(state);
    }
    return keymap;
}

bool selectKeyboardEvents(const XkbConnection& x) {
    constexpr uint16_t kEvents = XCB_XKB_EVENT_TYPE_NEW_KEYBOARD_NOTIFY |
                                 XCB_XKB_EVENT_TYPE_MAP_NOTIFY | XCB_XKB_EVENT_TYPE_STATE_NOTIFY;
    constexpr uint16_t kMapParts =
        XCB_XKB_MAP_PART_KEY_TYPES | XCB_XKB_MAP_PART_KEY_SYMS | XCB_XKB_MAP_PART_MODIFIER_MAP |
        XCB_XKB_MAP_PART_EXPLICIT_COMPONENTS | XCB_XKB_MAP_PART_KEY_ACTIONS |
        XCB_XKB_MAP_PART_VIRTUAL_MODS | XCB_XKB_MAP_PART_VIRTUAL_MOD_MAP;
    constexpr uint16_t kStateParts = XCB_XKB_STATE_PART_GROUP_BASE |
                                     XCB_XKB_STATE_PART_GROUP_LATCH | XCB_XKB_STATE_PART_GROUP_LOCK;
    xcb_xkb_select_events_details_t details{};
    details.affectNewKeyboard = XCB_XKB_NKN_DETAIL_KEYCODES;
    details.newKeyboardDetails = XCB_XKB_NKN_DETAIL_KEYCODES;
    details.affectState = kStateParts;
    details.stateDetails = kStateParts;
    xcb_void_cookie_t cookie = xcb_xkb_select_events_aux_checked(
        x.connection, static_cast<xcb_xkb_device_spec_t>(x.device), kEvents, 0, 0, kMapParts,
        kMapParts, &details);
    xcb_generic_error_t* error = xcb_request_check(x.connection, cookie);
    if (error) {
        free(error);
        return false;
    }
    return true;
}

// Whether an event says the keymap or the effective group changed.
bool isKeyboardChange(const XkbConnection& x, const xcb_generic_event_t* event,
                      uint32_t lastGroup) {
    if ((event->response_type & 0x7F) != x.baseEvent) return false;
    // Every XKB event starts with the same header; its second byte is the XKB event type.
    uint8_t xkbType = reinterpret_cast<const uint8_t*>(event)[1];
    switch (xkbType) {
        case XCB_XKB_NEW_KEYBOARD_NOTIFY:
        case XCB_XKB_MAP_NOTIFY:
            return true;
        case XCB_XKB_STATE_NOTIFY:
            return reinterpret_cast<const xcb_xkb_state_notify_event_t*>(event)->group != lastGroup;
        default:
            return false;
    }
}

// The watcher: owns `x` and its connection for its whole life.
void watch(XkbConnection x, uint32_t group) {
    while (xcb_generic_event_t* event = xcb_wait_for_event(x.connection)) {
        bool changed = isKeyboardChange(x, event, group);
        free(event);
        // setxkbmap sends a burst of notifications; one fresh keymap answers them all.
        while ((event = xcb_poll_for_event(x.connection)) != nullptr) {
            changed = isKeyboardChange(x, event, group) || changed;
            free(event);
        }
        if (!changed) continue;
        uint32_t newGroup = 0;
        if (xkb_keymap* keymap = readKeymap(x, &newGroup)) {
            group = newGroup;
            gCallback.load()(keymap, newGroup);
        }
    }
    xcb_disconnect(x.connection);  // the display closed; the last keymap stays in use
}

}  // namespace

bool ZVX11KeymapMonitor::start(Callback callback) {
    XkbConnection x = openXkbConnection();
    if (!x.connection) return false;
    gCallback.store(callback);
    uint32_t group = 0;
    xkb_keymap* keymap = readKeymap(x, &group);
    if (!keymap || !selectKeyboardEvents(x)) {
        if (keymap) callback(keymap, group);  // still better than the environment's guess
        xcb_disconnect(x.connection);
        return keymap != nullptr;
    }
    callback(keymap, group);
    // Detached: it holds only its connection, and ends when the display goes away.
    std::thread(watch, x, group).detach();
    return true;
}

bool ZVX11KeymapMonitor::refresh() {
    Callback callback = gCallback.load();
    if (!callback) return false;
    XkbConnection x = openXkbConnection();
    if (!x.connection) return false;
    uint32_t group = 0;
    xkb_keymap* keymap = readKeymap(x, &group);
    xcb_disconnect(x.connection);
    if (!keymap) return false;
    callback(keymap, group);
    return true;
}
