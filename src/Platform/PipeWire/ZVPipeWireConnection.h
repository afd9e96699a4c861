#pragma once
#include "ZVPrivate.h"  // library-internal

// One connection to a PipeWire daemon, on a pw_thread_loop of its own: through the fd the
// desktop portal handed over (it reaches only the granted nodes) or to the default
// daemon. Streams made on it share its loop thread; everything PipeWire calls back runs
// there. The connection tells its listeners when it breaks or when a node goes away.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Foundation/ZVMutex.h"

struct pw_thread_loop;
struct pw_context;
struct pw_core;
struct pw_registry;

class ZVPipeWireConnection {
  public:
    // Called on the loop thread: a node with this id went away (id), or the connection
    // broke (id = kConnectionLost) with why.
    using Listener = std::function<void(uint32_t id, const std::string& why)>;
    static constexpr uint32_t kConnectionLost = 0xffffffffu;

    // Connects through `fd` (taken over: closed with the connection, also on failure) or,
    // with fd < 0, to the default daemon. nullptr with *error (one line) when PipeWire
    // cannot be reached. Any thread.
    static std::shared_ptr<ZVPipeWireConnection> connect(int fd, std::string* error);
    ~ZVPipeWireConnection();
    ZVPipeWireConnection(const ZVPipeWireConnection&) = delete;
    ZVPipeWireConnection& operator=(const ZVPipeWireConnection&) = delete;

    pw_thread_loop* loop() const { return _loop; }
    pw_core* core() const { return _core; }

    // Adds a listener; its token for removeListener. Loop locked or loop thread.
    uint64_t addListener(Listener listener);
    // Removes it; once this returns it is not called again. Loop locked or loop thread.
    void removeListener(uint64_t token);

    // Why the connection broke; empty while it holds. Any thread.
    std::string lostReason() const ZV_EXCLUDES(_lostLock);

  private:
    ZVPipeWireConnection() = default;
    void notify(uint32_t id, const std::string& why);
    static void onCoreError(void* self, uint32_t id, int seq, int res, const char* message);
    static void onGlobalRemove(void* self, uint32_t id);

    pw_thread_loop* _loop = nullptr;
    pw_context* _context = nullptr;
    pw_core* _core = nullptr;
    pw_registry* _registry = nullptr;
    struct Hooks;
    std::unique_ptr<Hooks> _hooks;  // the spa_hooks PipeWire keeps pointers to
    // Owned by the loop thread (or by whoever holds the loop lock).
    std::vector<std::pair<uint64_t, Listener>> _listeners;
    uint64_t _nextToken = 1;
    mutable ZVMutex _lostLock;  // guards _lost
    std::string _lost ZV_GUARDED_BY(_lostLock);
};
