#pragma once
// A screen as the host sees it: one display with its frame in desktop space and its
// display identifier. It plays the part of the toolkit screen class together with the
// operations that tie a screen to its display number, state and product name.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Platform/ZVPlatformDefaults.h"
#include "Video/ZVDisplayServer.h"

class ZVScreen {
  public:
    // The screens of the services' display server now, primary first (the screen-list
    // order of every reader). Empty when there is no usable display. Any thread.
    static std::vector<std::shared_ptr<ZVScreen>> screens(
        const ZVPlatformServices& services = ZVPlatformDefaults());
    // The same list from the display server's short-lived cache; for the capture tick.
    // Any thread.
    static std::vector<std::shared_ptr<ZVScreen>> cachedScreens(
        const ZVPlatformServices& services = ZVPlatformDefaults());

    // The first screen whose number equals `number`; nullptr for none. Any thread.
    static std::shared_ptr<ZVScreen> screenByNumber(
        int64_t number, const ZVPlatformServices& services = ZVPlatformDefaults());

    // A screen for one entry of `server`'s display list (the screen keeps the server, to
    // ask it for the display's state). Any thread.
    ZVScreen(ZVDisplayDescription description, std::shared_ptr<ZVDisplayServer> server)
        : _description(std::move(description)), _server(std::move(server)) {}

    // The frame in desktop space, when the list was made. Any thread.
    ZVRect frame() const { return _description.frame; }
    // The display identifier ("NSScreenNumber" of the screen's description). Any thread.
    uint32_t number() const { return _description.displayID; }
    // The display's product name (screenNameForDisplay of number()). Any thread.
    std::optional<std::string> localizedName() const;
    // Connected / drawable / asleep, asked of the display server for number(); false for a
    // display that is gone. Any thread.
    bool isOnline() const;
    bool isActive() const;
    bool isAsleep() const;

    // Everything the list knew of the display when it was made. Any thread.
    const ZVDisplayDescription& description() const { return _description; }
    // The display server the screen belongs to. Any thread.
    ZVDisplayServer& server() const { return *_server; }

  private:
    ZVDisplayDescription _description;
    std::shared_ptr<ZVDisplayServer> _server;  // never nullptr
};

// The product name of a display (the monitor-name descriptor of its EDID); nullopt when the
// display has none or is unknown. Any thread.
std::optional<std::string> screenNameForDisplay(
    uint32_t displayID, const ZVPlatformServices& services = ZVPlatformDefaults());
