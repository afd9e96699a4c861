#include "Platform/PipeWire/ZVPipeWireConnection.h"

#include <pipewire/pipewire.h>
#include <unistd.h>

#include <cstring>
#include <mutex>

struct ZVPipeWireConnection::Hooks {
    spa_hook core{};
    spa_hook registry{};
    pw_core_events coreEvents{};
    pw_registry_events registryEvents{};
};

namespace {
void initOnce() {
    static std::once_flag once;
    std::call_once(once, [] { pw_init(nullptr, nullptr); });
}

// Holds the loop's lock for one scope.
struct LoopLock {
    pw_thread_loop* loop;
    explicit LoopLock(pw_thread_loop* l) : loop(l) { pw_thread_loop_lock(loop); }
    ~LoopLock() { pw_thread_loop_unlock(loop); }
};
}  // namespace

std::shared_ptr<ZVPipeWireConnection> ZVPipeWireConnection::connect(int fd, std::string* error) {
    initOnce();
    std::shared_ptr<ZVPipeWireConnection> c(new ZVPipeWireConnection());
    c->_hooks = std::make_unique<Hooks>();
    auto fail = [&](std::string why) -> std::shared_ptr<ZVPipeWireConnection> {
        if (error) *error = std::move(why);
        return nullptr;
    };
    c->_loop = pw_thread_loop_new("zorvan-pipewire", nullptr);
    if (!c->_loop) {
        if (fd >= 0) close(fd);
        return fail("PipeWire: cannot make a loop thread");
    }
    c->_context = pw_context_new(pw_thread_loop_get_loop(c->_loop), nullptr, 0);
    if (!c->_context) {
        if (fd >= 0) close(fd);
        return fail("PipeWire: cannot make a context");
    }
    if (pw_thread_loop_start(c->_loop) < 0) {
        if (fd >= 0) close(fd);
        return fail("PipeWire: cannot start the loop thread");
    }
    LoopLock lock(c->_loop);
    // pw_context_connect_fd owns the fd from here on, whatever it returns.
    c->_core = fd >= 0 ? pw_context_connect_fd(c->_context, fd, nullptr, 0)
                       : pw_context_connect(c->_context, nullptr, 0);
    if (!c->_core) {
        const int err = errno;
        return fail(std::string("cannot connect to PipeWire: ") + std::strerror(err));
    }
    Hooks& h = *c->_hooks;
    h.coreEvents.version = PW_VERSION_CORE_EVENTS;
    h.coreEvents.error = &ZVPipeWireConnection::onCoreError;
    pw_core_add_listener(c->_core, &h.core, &h.coreEvents, c.get());
    c->_registry = pw_core_get_registry(c->_core, PW_VERSION_REGISTRY, 0);
    if (c->_registry) {
        h.registryEvents.version = PW_VERSION_REGISTRY_EVENTS;
        h.registryEvents.global_remove = &ZVPipeWireConnection::onGlobalRemove;
        pw_registry_add_listener(c->_registry, &h.registry, &h.registryEvents, c.get());
    }
    return c;
}

ZVPipeWireConnection::~ZVPipeWireConnection() {
    if (!_loop) return;
    // Stopping the thread first means no callback runs while the objects go.
    pw_thread_loop_stop(_loop);
    if (_registry) {
        spa_hook_remove(&_hooks->registry);
        pw_proxy_destroy(reinterpret_cast<pw_proxy*>(_registry));
    }
    if (_core) {
        spa_hook_remove(&_hooks->core);
        pw_core_disconnect(_core);
    }
    if (_context) pw_context_destroy(_context);
    pw_thread_loop_destroy(_loop);
}

uint64_t ZVPipeWireConnection::addListener(Listener listener) {
    const uint64_t token = _nextToken++;
    _listeners.emplace_back(token, std::move(listener));
    return token;
}

void ZVPipeWireConnection::removeListener(uint64_t token) {
    std::erase_if(_listeners, [token](const auto& l) { return l.first == token; });
}

std::string ZVPipeWireConnection::lostReason() const {
    ZVLockGuard<ZVMutex> g(_lostLock);
    return _lost;
}

void ZVPipeWireConnection::notify(uint32_t id, const std::string& why) {
    // A listener may remove itself: call a snapshot.
    auto listeners = _listeners;
    for (auto& [token, listener] : listeners) listener(id, why);
}

void ZVPipeWireConnection::onCoreError(void* self, uint32_t id, int, int res, const char* message) {
    // Only the core's own errors end the connection; others belong to one object.
    if (id != PW_ID_CORE) return;
    auto* c = static_cast<ZVPipeWireConnection*>(self);
    std::string why = res == -EPIPE ? "the PipeWire server went away"
                                    : std::string("PipeWire: ") + (message ? message : "error");
    {
        ZVLockGuard<ZVMutex> g(c->_lostLock);
        if (!c->_lost.empty()) return;
        c->_lost = why;
    }
    c->notify(kConnectionLost, why);
}

void ZVPipeWireConnection::onGlobalRemove(void* self, uint32_t id) {
    static_cast<ZVPipeWireConnection*>(self)->notify(id, "its PipeWire node went away");
}
