#include "Video/ZVScreen.h"

namespace {

std::vector<std::shared_ptr<ZVScreen>> wrap(std::vector<ZVDisplayDescription> list,
                                            const std::shared_ptr<ZVDisplayServer>& server) {
    std::vector<std::shared_ptr<ZVScreen>> out;
    out.reserve(list.size());
    for (auto& d : list) out.push_back(std::make_shared<ZVScreen>(std::move(d), server));
    return out;
}

// The display's description now, from the server's cache (state changes show within its
// short life).
std::optional<ZVDisplayDescription> describe(ZVDisplayServer& server, uint32_t displayID) {
    for (auto& d : server.cachedDisplays())
        if (d.displayID == displayID) return d;
    return std::nullopt;
}

}  // namespace

std::vector<std::shared_ptr<ZVScreen>> ZVScreen::screens(const ZVPlatformServices& services) {
    auto server = ZVDisplayServer::from(services);
    return wrap(server->displays(), server);
}

std::vector<std::shared_ptr<ZVScreen>> ZVScreen::cachedScreens(const ZVPlatformServices& services) {
    auto server = ZVDisplayServer::from(services);
    return wrap(server->cachedDisplays(), server);
}

std::shared_ptr<ZVScreen> ZVScreen::screenByNumber(int64_t number,
                                                   const ZVPlatformServices& services) {
    for (auto& s : screens(services))
        if (int64_t{s->number()} == number) return s;
    return nullptr;
}

std::optional<std::string> ZVScreen::localizedName() const {
    for (auto& d : _server->displays())
        if (d.displayID == number()) return d.productName;
    return std::nullopt;
}

bool ZVScreen::isOnline() const {
    auto d = describe(*_server, number());
    return d && d->online;
}

bool ZVScreen::isActive() const {
    auto d = describe(*_server, number());
    return d && d->active;
}

bool ZVScreen::isAsleep() const {
    auto d = describe(*_server, number());
    return d && d->asleep;
}

std::optional<std::string> screenNameForDisplay(uint32_t displayID,
                                                const ZVPlatformServices& services) {
    ZVDisplayDescription d;
    d.displayID = displayID;
    return ZVScreen(std::move(d), ZVDisplayServer::from(services)).localizedName();
}
