#pragma once
#include "ZVPrivate.h"  // library-internal

// A ready host input object for X11 desktops: it watches every keyboard and mouse of the
// X server (XInput 2 raw events, which also show other clients' input) on a connection
// and a thread of its own, and answers the recorder's host input contract from what it
// saw. A host installs it with ZVSetSharedApplication(ZVX11HostInput::create()).
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

#include "Video/ZVHostApplication.h"
#include "Video/ZVHostInputTracker.h"

struct xcb_connection_t;

class ZVX11HostInput : public ZVHostApplication {
  public:
    // Connects to `display` (empty: $DISPLAY) and starts listening. nullptr after a log
    // line when there is no X server or it lacks XInput 2.2. Any thread.
    static std::shared_ptr<ZVX11HostInput> create(const std::string& display = {});
    // Stops the listening thread and closes the connections. Any thread but the
    // listener's.
    ~ZVX11HostInput() override;
    ZVX11HostInput(const ZVX11HostInput&) = delete;
    ZVX11HostInput& operator=(const ZVX11HostInput&) = delete;

    // The last non-modifier key pressed and still held, as a Macintosh virtual key code;
    // -1 for none. Any thread.
    std::optional<int64_t> getKeyCode() override;
    // The modifiers held now (asked of the server), in the Cocoa layout. Any thread.
    std::optional<uint32_t> getFlags() override;
    // True when the held key has been down longer than the keyboard's repeat delay.
    // Any thread.
    std::optional<bool> isKeyRepeating() override;
    // The non-modifier keys pressed since the previous call, each with the modifiers held
    // when it was pressed (followed from the same events, so no later key is mixed in);
    // the stack is empty afterwards. Any thread.
    std::optional<std::vector<uint8_t>> getKeyStrokesStack() override;
    // Buttons held now or pressed since the previous call (so a click shorter than a
    // frame is still seen), and the double-click bit while its second press is held or
    // not yet reported. Any thread.
    std::optional<int64_t> getMouseButtonsState() override;

    // The keyboard's auto-repeat delay as read from the server at creation. Any thread.
    std::chrono::milliseconds repeatDelay() const { return _repeatDelay; }
    // Cocoa modifier flags for an X modifier mask (Shift, Lock, Control, Mod1, Mod4).
    // Any thread.
    static uint32_t cocoaFlagsFromXMask(uint16_t mask);

  private:
    ZVX11HostInput() = default;
    bool connect(const std::string& display);
    void listen();  // the listening thread's body
    void onButton(uint32_t button, bool pressed);
    // Asks the server for the pointer (root coordinates) and the modifier mask. Listener
    // only (uses the event connection).
    bool queryPointer(int& x, int& y, uint16_t& mask);

    // The event connection is the listener's alone; the query connection serves getFlags
    // on the caller's thread (XCB connections may be shared, but a reply read elsewhere
    // would leave events queued behind the listener's poll).
    xcb_connection_t* _events = nullptr;
    xcb_connection_t* _query = nullptr;
    uint32_t _root = 0;
    uint8_t _xinputOpcode = 0;
    int _wakeFd = -1;  // an eventfd; written by the destructor to end the listener
    std::chrono::milliseconds _repeatDelay{660};
    std::thread _listener;
    ZVHostInputTracker _tracker;  // fed by the listener, asked by ticks
};
