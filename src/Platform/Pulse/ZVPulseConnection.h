#pragma once
#include "ZVPrivate.h"  // library-internal

// One connection to the PulseAudio server on a threaded main loop of its own, never
// spawning a server. Every wait on it is bounded: a server that accepts and never answers
// must not hang the caller.
#include <pulse/pulseaudio.h>

#include <functional>
#include <optional>
#include <string>

class ZVPulseConnection {
  public:
    explicit ZVPulseConnection(const char* clientName);
    ~ZVPulseConnection();
    ZVPulseConnection(const ZVPulseConnection&) = delete;
    ZVPulseConnection& operator=(const ZVPulseConnection&) = delete;

    // Connects and waits until the context is ready; false with *error otherwise.
    // The owner's thread.
    bool open(std::string* error);

    // Runs one request to its end: `start` is called under the loop's lock and returns
    // the operation; its callbacks must call signal(). false when it failed or timed out.
    // The owner's thread.
    bool run(const std::function<pa_operation*(pa_context*)>& start);

    // Waits under the loop's lock until `done` holds, for at most the answer time; false
    // on a timeout. The caller holds the lock (lock()/unlock()). The owner's thread.
    bool waitLocked(const std::function<bool()>& done);

    // A new stream on the context whose state changes wake the owner waiting in
    // waitForStream; nullptr when it cannot be made. The caller holds the lock.
    pa_stream* newStream(const char* name, const pa_sample_spec* spec);
    // Waits until a connecting stream is ready or has failed; whether it is ready (false
    // also on a timeout). The caller holds the lock.
    bool waitForStream(pa_stream* stream);
    // Silences the stream's callbacks, disconnects and lets go of it; `stream` becomes
    // nullptr. The caller holds the lock.
    static void endStream(pa_stream*& stream);

    // The sink with index `index`: its name and its monitor source's; nullopt when there
    // is none or the server did not answer. The owner's thread.
    struct Sink {
        std::string name, monitor;
    };
    std::optional<Sink> sinkByIndex(uint32_t index);

    // Wakes the owner waiting in run() or waitLocked(). Main-loop thread (callbacks).
    void signal() { pa_threaded_mainloop_signal(_loop, 0); }

    void lock() { pa_threaded_mainloop_lock(_loop); }
    bool inLoopThread() const { return pa_threaded_mainloop_in_thread(_loop); }
    void unlock() { pa_threaded_mainloop_unlock(_loop); }
    pa_context* context() const { return _context; }
    // Why the last request failed: the server's error, or the timeout.
    std::string lastError() const;

    static constexpr pa_usec_t kAnswerTimeout = 5 * PA_USEC_PER_SEC;

  private:
    pa_mainloop_api* api() { return pa_threaded_mainloop_get_api(_loop); }

    const char* _clientName;
    pa_threaded_mainloop* _loop;
    pa_context* _context = nullptr;
    bool _started = false;
    bool _timedOut = false;  // main-loop thread writes, owner reads, both under the lock
};
