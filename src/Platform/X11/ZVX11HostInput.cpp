#include "Platform/X11/ZVX11HostInput.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>
#include <xcb/xcb.h>
#include <xcb/xinput.h>
// xkb.h names a field "explicit", which C++ reserves.
#define explicit xkb_explicit
#include <xcb/xkb.h>
#undef explicit

#include <cstdlib>
#include <utility>

#include "Foundation/ZVLog.h"
#include "Keys/SRKeyNaming.h"
#include "Keys/ZVKeyCodeTable.h"

namespace {
constexpr uint16_t kAllMasterDevices = 1;  // XIAllMasterDevices
}  // namespace

uint32_t ZVX11HostInput::cocoaFlagsFromXMask(uint16_t mask) {
    uint32_t flags = 0;
    if (mask & XCB_MOD_MASK_SHIFT) flags |= kSRCocoaShiftKeyMask;
    if (mask & XCB_MOD_MASK_LOCK) flags |= kZVAlphaShiftKeyMask;
    if (mask & XCB_MOD_MASK_CONTROL) flags |= kSRCocoaControlKeyMask;
    if (mask & XCB_MOD_MASK_1) flags |= kSRCocoaOptionKeyMask;
    if (mask & XCB_MOD_MASK_4) flags |= kSRCocoaCommandKeyMask;
    return flags;
}

std::shared_ptr<ZVX11HostInput> ZVX11HostInput::create(const std::string& display) {
    std::shared_ptr<ZVX11HostInput> input(new ZVX11HostInput());
    if (!input->connect(display)) return nullptr;
    input->_listener = std::thread([raw = input.get()] { raw->listen(); });
    return input;
}

bool ZVX11HostInput::connect(const std::string& display) {
    const char* name = display.empty() ? nullptr : display.c_str();
    int screenNumber = 0;
    _events = xcb_connect(name, &screenNumber);
    _query = xcb_connect(name, nullptr);
    if (xcb_connection_has_error(_events) || xcb_connection_has_error(_query)) {
        ZVLog("ZVX11HostInput: cannot connect to the X server %s",
              name ? name : (std::getenv("DISPLAY") ? std::getenv("DISPLAY") : "(DISPLAY unset)"));
        return false;
    }
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(_events));
    for (int i = 0; i < screenNumber && it.rem; ++i) xcb_screen_next(&it);
    if (!it.rem) return false;
    _root = it.data->root;

    const xcb_query_extension_reply_t* ext = xcb_get_extension_data(_events, &xcb_input_id);
    xcb_input_xi_query_version_reply_t* version = nullptr;
    if (ext && ext->present) {
        version = xcb_input_xi_query_version_reply(
            _events, xcb_input_xi_query_version(_events, 2, 2), nullptr);
    }
    bool xi22 = version && (version->major_version > 2 ||
                            (version->major_version == 2 && version->minor_version >= 2));
    std::free(version);
    if (!xi22) {
        ZVLog("ZVX11HostInput: the X server has no XInput 2.2");
        return false;
    }
    _xinputOpcode = ext->major_opcode;

    struct {
        xcb_input_event_mask_t head;
        uint32_t mask;
    } selection{{kAllMasterDevices, 1},
                XCB_INPUT_XI_EVENT_MASK_RAW_KEY_PRESS | XCB_INPUT_XI_EVENT_MASK_RAW_KEY_RELEASE |
                    XCB_INPUT_XI_EVENT_MASK_RAW_BUTTON_PRESS |
                    XCB_INPUT_XI_EVENT_MASK_RAW_BUTTON_RELEASE};
    xcb_generic_error_t* error = xcb_request_check(
        _events, xcb_input_xi_select_events_checked(_events, _root, 1, &selection.head));
    if (error) {
        ZVLog("ZVX11HostInput: XISelectEvents() failed with error %d", error->error_code);
        std::free(error);
        return false;
    }

    // The repeat delay: the keyboard's XKB controls; the X default when XKB is missing.
    auto use = xcb_xkb_use_extension_reply(_query, xcb_xkb_use_extension(_query, 1, 0), nullptr);
    if (use && use->supported) {
        auto controls = xcb_xkb_get_controls_reply(
            _query, xcb_xkb_get_controls(_query, XCB_XKB_ID_USE_CORE_KBD), nullptr);
        if (controls && controls->repeatDelay > 0) {
            _repeatDelay = std::chrono::milliseconds(controls->repeatDelay);
        }
        std::free(controls);
    }
    std::free(use);

    // Caps Lock as it stands now; the listener follows its toggles from here on.
    int x = 0, y = 0;
    uint16_t mask = 0;
    if (queryPointer(x, y, mask)) _tracker.setCapsLock((mask & XCB_MOD_MASK_LOCK) != 0);

    _wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    return _wakeFd >= 0;
}

ZVX11HostInput::~ZVX11HostInput() {
    if (_listener.joinable()) {
        uint64_t one = 1;
        [[maybe_unused]] ssize_t n = write(_wakeFd, &one, sizeof one);
        _listener.join();
    }
    if (_wakeFd >= 0) close(_wakeFd);
    if (_events) xcb_disconnect(_events);
    if (_query) xcb_disconnect(_query);
}

void ZVX11HostInput::listen() {
    pollfd fds[2] = {{xcb_get_file_descriptor(_events), POLLIN, 0}, {_wakeFd, POLLIN, 0}};
    for (;;) {
        while (xcb_generic_event_t* event = xcb_poll_for_event(_events)) {
            auto* ge = reinterpret_cast<xcb_ge_generic_event_t*>(event);
            if ((event->response_type & 0x7F) == XCB_GE_GENERIC && ge->extension == _xinputOpcode) {
                auto* raw = reinterpret_cast<xcb_input_raw_key_press_event_t*>(event);
                switch (ge->event_type) {
                    case XCB_INPUT_RAW_KEY_PRESS:
                    case XCB_INPUT_RAW_KEY_RELEASE:
                        _tracker.onKey(raw->detail,
                                       ZVKeyCodeTable::macKeyCodeForX11KeyCode(int(raw->detail)),
                                       ge->event_type == XCB_INPUT_RAW_KEY_PRESS,
                                       ZVHostInputTracker::Clock::now());
                        break;
                    case XCB_INPUT_RAW_BUTTON_PRESS:
                        onButton(raw->detail, true);
                        break;
                    case XCB_INPUT_RAW_BUTTON_RELEASE:
                        onButton(raw->detail, false);
                        break;
                    default:
                        break;
                }
            }
            std::free(event);
        }
        if (xcb_connection_has_error(_events)) {
            ZVLog("ZVX11HostInput: the X server connection was lost");
            return;
        }
        if (poll(fds, 2, -1) < 0 && errno != EINTR) return;
        if (fds[1].revents & POLLIN) return;
    }
}

bool ZVX11HostInput::queryPointer(int& x, int& y, uint16_t& mask) {
    auto reply = xcb_query_pointer_reply(_events, xcb_query_pointer(_events, _root), nullptr);
    if (!reply) return false;
    x = reply->root_x;
    y = reply->root_y;
    mask = reply->mask;
    std::free(reply);
    return true;
}

void ZVX11HostInput::onButton(uint32_t button, bool pressed) {
    // X buttons 4 to 7 are wheel steps, not buttons a user holds.
    if (button >= 4 && button <= 7) return;
    int64_t bit = button == 1   ? kZVMouseLeftButton
                  : button == 3 ? kZVMouseRightButton
                                : kZVMouseOtherButton;
    if (!pressed) {
        _tracker.onButton(bit, false, ZVHostInputTracker::Clock::now(), std::nullopt);
        return;
    }
    // Only a left press needs the place it happened, for the double click.
    int x = 0, y = 0;
    uint16_t mask = 0;
    bool located = bit == kZVMouseLeftButton && queryPointer(x, y, mask);
    _tracker.onButton(bit, true, ZVHostInputTracker::Clock::now(),
                      located ? std::optional(std::pair(x, y)) : std::nullopt);
}

std::optional<int64_t> ZVX11HostInput::getKeyCode() {
    return _tracker.keyCode();
}

std::optional<uint32_t> ZVX11HostInput::getFlags() {
    auto reply = xcb_query_pointer_reply(_query, xcb_query_pointer(_query, _root), nullptr);
    if (!reply) return 0u;
    uint32_t flags = cocoaFlagsFromXMask(reply->mask);
    std::free(reply);
    return flags;
}

std::optional<bool> ZVX11HostInput::isKeyRepeating() {
    return _tracker.isKeyRepeating(_repeatDelay);
}

std::optional<std::vector<uint8_t>> ZVX11HostInput::getKeyStrokesStack() {
    return _tracker.takeKeyStrokes();
}

std::optional<int64_t> ZVX11HostInput::getMouseButtonsState() {
    return _tracker.takeMouseButtonsState();
}
