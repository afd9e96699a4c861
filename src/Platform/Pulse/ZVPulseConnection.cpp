#include "Platform/Pulse/ZVPulseConnection.h"

#include <chrono>

ZVPulseConnection::ZVPulseConnection(const char* clientName)
    : _clientName(clientName), _loop(pa_threaded_mainloop_new()) {}

ZVPulseConnection::~ZVPulseConnection() {
    if (!_loop) return;
    if (_started) {
        lock();
        if (_context) {
            pa_context_set_state_callback(_context, nullptr, nullptr);
            pa_context_disconnect(_context);
            pa_context_unref(_context);
        }
        unlock();
        pa_threaded_mainloop_stop(_loop);
    }
    pa_threaded_mainloop_free(_loop);
}

bool ZVPulseConnection::waitLocked(const std::function<bool()>& done) {
    // The loop's own clock bounds the wait; timed waits on its condition come from
    // pa_threaded_mainloop_wait's signals, so a timer event signals at the deadline.
    _timedOut = false;
    pa_time_event* timer = pa_context_rttime_new(
        _context, pa_rtclock_now() + kAnswerTimeout,
        [](pa_mainloop_api*, pa_time_event*, const struct timeval*, void* u) {
            auto* self = static_cast<ZVPulseConnection*>(u);
            self->_timedOut = true;
            self->signal();
        },
        this);
    while (!done() && !_timedOut) pa_threaded_mainloop_wait(_loop);
    if (timer) api()->time_free(timer);
    return !_timedOut || done();
}

bool ZVPulseConnection::open(std::string* error) {
    auto fail = [error](const std::string& why) {
        if (error) *error = why;
        return false;
    };
    if (!_loop || pa_threaded_mainloop_start(_loop) < 0) return fail("no main loop");
    _started = true;
    lock();
    _context = pa_context_new(api(), _clientName);
    bool ok = _context != nullptr;
    if (ok) {
        pa_context_set_state_callback(
            _context, [](pa_context*, void* u) { static_cast<ZVPulseConnection*>(u)->signal(); },
            this);
        ok = pa_context_connect(_context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) >= 0;
    }
    if (ok) {
        ok = waitLocked([this] {
            pa_context_state_t state = pa_context_get_state(_context);
            return state == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(state);
        });
        ok = ok && pa_context_get_state(_context) == PA_CONTEXT_READY;
    }
    std::string why = _context ? lastError() : "no context";
    unlock();
    return ok || fail(why);
}

bool ZVPulseConnection::run(const std::function<pa_operation*(pa_context*)>& start) {
    lock();
    pa_operation* op = start(_context);
    bool ok = op != nullptr;
    if (op) {
        ok = waitLocked([op] { return pa_operation_get_state(op) != PA_OPERATION_RUNNING; });
        ok = ok && pa_operation_get_state(op) == PA_OPERATION_DONE;
        pa_operation_unref(op);
    }
    unlock();
    return ok;
}

pa_stream* ZVPulseConnection::newStream(const char* name, const pa_sample_spec* spec) {
    pa_stream* stream = pa_stream_new(_context, name, spec, nullptr);
    if (stream)
        pa_stream_set_state_callback(
            stream, [](pa_stream*, void* u) { static_cast<ZVPulseConnection*>(u)->signal(); },
            this);
    return stream;
}

bool ZVPulseConnection::waitForStream(pa_stream* stream) {
    const bool answered = waitLocked([stream] {
        pa_stream_state_t state = pa_stream_get_state(stream);
        return state == PA_STREAM_READY || !PA_STREAM_IS_GOOD(state);
    });
    return answered && pa_stream_get_state(stream) == PA_STREAM_READY;
}

void ZVPulseConnection::endStream(pa_stream*& stream) {
    if (!stream) return;
    pa_stream_set_state_callback(stream, nullptr, nullptr);
    pa_stream_set_read_callback(stream, nullptr, nullptr);
    pa_stream_set_write_callback(stream, nullptr, nullptr);
    pa_stream_disconnect(stream);
    pa_stream_unref(stream);
    stream = nullptr;
}

std::optional<ZVPulseConnection::Sink> ZVPulseConnection::sinkByIndex(uint32_t index) {
    struct Lookup {
        ZVPulseConnection* connection;
        std::optional<Sink> sink;
    } lookup{this, std::nullopt};
    auto onSink = [](pa_context*, const pa_sink_info* info, int eol, void* u) {
        auto* l = static_cast<Lookup*>(u);
        if (!eol && info)
            l->sink = Sink{info->name ? info->name : "",
                           info->monitor_source_name ? info->monitor_source_name : ""};
        l->connection->signal();
    };
    run([&](pa_context* ctx) {
        return pa_context_get_sink_info_by_index(ctx, index, onSink, &lookup);
    });
    return lookup.sink;
}

std::string ZVPulseConnection::lastError() const {
    if (_timedOut) return "the server did not answer";
    return pa_strerror(pa_context_errno(_context));
}
