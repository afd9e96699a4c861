#include "Foundation/ZVNotificationCenter.h"

#include <algorithm>
#include <thread>

struct ZVNotificationCenter::Entry {
    const void* observer;
    std::string name;
    const void* object;
    Callback callback;

    ZVMutex lock;  // guards removed and active
    ZVCondition idle;
    bool removed ZV_GUARDED_BY(lock) = false;
    // Threads inside the callback right now (a thread may be in it more than once).
    std::vector<std::thread::id> active ZV_GUARDED_BY(lock);

    bool enter() {
        ZVLockGuard g(lock);
        if (removed) return false;
        active.push_back(std::this_thread::get_id());
        return true;
    }
    void leave() {
        ZVLockGuard g(lock);
        active.erase(std::find(active.begin(), active.end(), std::this_thread::get_id()));
        idle.notifyAll();
    }
    void retire() {
        auto self = std::this_thread::get_id();
        ZVLockGuard g(lock);
        removed = true;
        idle.wait(lock, [&]() ZV_REQUIRES(lock) {
            return std::all_of(active.begin(), active.end(), [&](auto id) { return id == self; });
        });
    }
};

ZVNotificationCenter& ZVNotificationCenter::defaultCenter() {
    // Leaked: detached workers may post while the process exits.
    static auto* center = new ZVNotificationCenter;
    return *center;
}

void ZVNotificationCenter::addObserver(const void* observer, std::string_view name,
                                       const void* object, Callback callback) {
    auto e = std::make_shared<Entry>();
    e->observer = observer;
    e->name = std::string(name);
    e->object = object;
    e->callback = std::move(callback);
    ZVLockGuard g(_lock);
    _entries.push_back(std::move(e));
}

void ZVNotificationCenter::removeObserver(const void* observer) {
    removeMatching(observer, true, {}, nullptr);
}

void ZVNotificationCenter::removeObserver(const void* observer, std::string_view name,
                                          const void* object) {
    removeMatching(observer, false, name, object);
}

void ZVNotificationCenter::removeMatching(const void* observer, bool all, std::string_view name,
                                          const void* object) {
    std::vector<std::shared_ptr<Entry>> gone;
    {
        ZVLockGuard g(_lock);
        auto keep = std::stable_partition(_entries.begin(), _entries.end(), [&](auto& e) {
            bool match =
                e->observer == observer &&
                (all || ((name.empty() || e->name == name) && (!object || e->object == object)));
            return !match;
        });
        gone.assign(keep, _entries.end());
        _entries.erase(keep, _entries.end());
    }
    // Outside the center's lock: a callback in flight may itself use the center.
    for (auto& e : gone) e->retire();
}

void ZVNotificationCenter::post(std::string_view name, const void* object, ZVValue userInfo) {
    std::vector<std::shared_ptr<Entry>> targets;
    {
        ZVLockGuard g(_lock);
        for (auto& e : _entries) {
            if ((e->name.empty() || e->name == name) && (!e->object || e->object == object))
                targets.push_back(e);
        }
    }
    if (targets.empty()) return;
    ZVNotification n{std::string(name), object, std::move(userInfo)};
    for (auto& e : targets) {
        if (!e->enter()) continue;
        try {
            e->callback(n);
        } catch (...) {
            e->leave();
            throw;
        }
        e->leave();
    }
}
