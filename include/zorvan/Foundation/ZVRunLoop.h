#pragma once
// The main thread's event queue. Stages hand delegate calls to it without waiting; the
// host drains it on its main thread (runOnce from its own loop, or runUntil). A GUI host
// watches wakeFileDescriptor() in its own main loop (a GLib source, a QSocketNotifier)
// and calls runOnce when it becomes readable.
#include <deque>
#include <functional>

#include "Foundation/ZVMutex.h"

class ZVRunLoop {
  public:
    using Event = std::function<void()>;

    // The main thread's loop. Any thread.
    static ZVRunLoop& main();

    // Queues an event; it runs on the thread that drains the loop, in posting order.
    // Any thread.
    void post(Event event) ZV_EXCLUDES(_lock);

    // Runs the events queued so far (not those they post); returns how many ran.
    // Main thread.
    size_t runOnce() ZV_EXCLUDES(_lock);

    // Runs events until `done` answers true (checked after each batch and at least every
    // 10 ms) or `timeoutSeconds` pass; returns the last answer of `done`. Main thread.
    bool runUntil(const std::function<bool()>& done, double timeoutSeconds) ZV_EXCLUDES(_lock);

    size_t pending() ZV_EXCLUDES(_lock);

    // An eventfd that is readable while events wait; runOnce resets it. The loop owns it
    // for the life of the process: watch it, never read or close it. Any thread.
    int wakeFileDescriptor() const { return _wakeFd; }

  private:
    ZVRunLoop();
    const int _wakeFd;
    ZVMutex _lock;  // guards _events
    ZVCondition _posted;
    std::deque<Event> _events ZV_GUARDED_BY(_lock);
};

// True on the process's main thread (the thread whose id is the process id).
bool ZVIsMainThread();
