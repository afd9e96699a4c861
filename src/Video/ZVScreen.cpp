#include "Video/ZVScreen.h"

namespace {

std::vector<std::shared_ptr<ZVScreen>> wrap(std::vector<ZVDisplayDescription> list) {
    std::vector<std::shared_ptr<ZVScreen>> out;
    out.reserve(list.size());
    for (auto& d : list) out.push_back(std::make_shared<ZVScreen>(std::move(d)));
    return out;
}

// The display's description now, from the server's cache (state changes show within its
// short life).
std::optional<ZVDisplayDescription> describe(uint32_t displayID) {
    for (auto& d : ZVDisplayServer::shared()->cachedDisplays())
        if (d.displayID == displayID) return d;
    return std::nullopt;
}

}  // namespace

std::vector<std::shared_ptr<ZVScreen>> ZVScreen::screens() {
    return wrap(ZVDisplayServer::shared()->displays());
}

std::vector<std::shared_ptr<ZVScreen>> ZVScreen::cachedScreens() {
    return wrap(ZVDisplayServer::shared()->cachedDisplays());
}

std::shared_ptr<ZVScreen> ZVScreen::screenByNumber(int64_t number) {
    for (auto& s : screens())
        if (int64_t{s->number()} == number) return s;
    return nullptr;
}

std::optional<std::string> ZVScreen::localizedName() const {
    return screenNameForDisplay(number());
}

bool ZVScreen::isOnline() const {
    auto d = describe(number());
    return d && d->online;
}

bool ZVScreen::isActive() const {
    auto d = describe(number());
    return d && d->active;
}

bool ZVScreen::isAsleep() const {
    auto d = describe(number());
    return d && d->asleep;
}

std::optional<std::string> screenNameForDisplay(uint32_t displayID) {
    for (auto& d : ZVDisplayServer::shared()->displays())
        if (d.displayID == displayID) return d.productName;
    return std::nullopt;
}
