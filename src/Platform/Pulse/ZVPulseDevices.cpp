#include "Platform/Pulse/ZVPulseDevices.h"

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <cstring>
#include <memory>

namespace {

constexpr pa_usec_t kAnswerTimeout = 5 * PA_USEC_PER_SEC;

struct RawDevice {
    uint32_t index = 0;
    std::string name;         // the server's device name
    std::string description;  // what users see, and what openal-soft opens
    std::vector<std::string> ports;
    int activePort = -1;
};

// What the callbacks fill. The main loop's thread writes it while the caller waits under
// the main loop's lock, and the caller reads it only once the operation has ended.
struct Exchange {
    pa_threaded_mainloop* loop = nullptr;
    bool input = true;
    bool timedOut = false;
    std::string defaultName;
    std::vector<RawDevice> devices;
};

template <typename Info>
void collect(const Info* info, int eol, void* userdata) {
    auto* ex = static_cast<Exchange*>(userdata);
    if (eol || !info) {
        pa_threaded_mainloop_signal(ex->loop, 0);
        return;
    }
    RawDevice d;
    d.index = info->index;
    d.name = info->name ? info->name : "";
    d.description = info->description ? info->description : d.name;
    for (uint32_t i = 0; i < info->n_ports; ++i) {
        const auto* port = info->ports[i];
        if (!port) continue;
        if (port == info->active_port) d.activePort = int(d.ports.size());
        d.ports.push_back(port->description ? port->description : port->name);
    }
    ex->devices.push_back(std::move(d));
}

void onSource(pa_context*, const pa_source_info* info, int eol, void* userdata) {
    collect(info, eol, userdata);
}
void onSink(pa_context*, const pa_sink_info* info, int eol, void* userdata) {
    collect(info, eol, userdata);
}

// Owns the main loop and the context; the destructor tears both down in order.
class Connection {
  public:
    Connection() : _loop(pa_threaded_mainloop_new()) {}
    ~Connection() {
        if (!_loop) return;
        if (_started) {
            pa_threaded_mainloop_lock(_loop);
            if (_timer) _api()->time_free(_timer);
            if (_context) {
                pa_context_set_state_callback(_context, nullptr, nullptr);
                pa_context_disconnect(_context);
                pa_context_unref(_context);
            }
            pa_threaded_mainloop_unlock(_loop);
            pa_threaded_mainloop_stop(_loop);
        }
        pa_threaded_mainloop_free(_loop);
    }

    // Connects and waits until the context is ready; false with *error otherwise.
    bool open(Exchange& ex, std::string* error) {
        if (!_loop || pa_threaded_mainloop_start(_loop) < 0) return fail(error, "no main loop");
        _started = true;
        ex.loop = _loop;
        pa_threaded_mainloop_lock(_loop);
        _context = pa_context_new(_api(), "Zorvan device list");
        bool ok = _context != nullptr;
        if (ok) {
            pa_context_set_state_callback(
                _context,
                [](pa_context*, void* l) {
                    pa_threaded_mainloop_signal(static_cast<pa_threaded_mainloop*>(l), 0);
                },
                _loop);
            // One deadline for the whole exchange: a server that accepts and never answers
            // must not hang the caller.
            _timer = pa_context_rttime_new(
                _context, pa_rtclock_now() + kAnswerTimeout,
                [](pa_mainloop_api*, pa_time_event*, const struct timeval*, void* u) {
                    auto* e = static_cast<Exchange*>(u);
                    e->timedOut = true;
                    pa_threaded_mainloop_signal(e->loop, 0);
                },
                &ex);
            ok = pa_context_connect(_context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) >= 0;
        }
        while (ok) {
            pa_context_state_t state = pa_context_get_state(_context);
            if (state == PA_CONTEXT_READY) break;
            if (!PA_CONTEXT_IS_GOOD(state) || ex.timedOut) {
                ok = false;
                break;
            }
            pa_threaded_mainloop_wait(_loop);
        }
        std::string why = !_context     ? "no context"
                          : ex.timedOut ? "the server did not answer"
                                        : pa_strerror(pa_context_errno(_context));
        pa_threaded_mainloop_unlock(_loop);
        return ok || fail(error, why);
    }

    // Runs one introspection request to its end; false when it failed or timed out.
    template <typename Start>
    bool run(Exchange& ex, Start start) {
        pa_threaded_mainloop_lock(_loop);
        pa_operation* op = start(_context, &ex);
        bool ok = op != nullptr;
        while (op && pa_operation_get_state(op) == PA_OPERATION_RUNNING && !ex.timedOut)
            pa_threaded_mainloop_wait(_loop);
        if (op) {
            ok = pa_operation_get_state(op) == PA_OPERATION_DONE;
            pa_operation_unref(op);
        }
        pa_threaded_mainloop_unlock(_loop);
        return ok && !ex.timedOut;
    }

  private:
    static bool fail(std::string* error, const std::string& why) {
        if (error) *error = why;
        return false;
    }
    pa_mainloop_api* _api() { return pa_threaded_mainloop_get_api(_loop); }

    pa_threaded_mainloop* _loop;
    pa_context* _context = nullptr;
    pa_time_event* _timer = nullptr;
    bool _started = false;
};

// openal-soft's names: the default device first, then the others in the server's order,
// each device once; a description already taken gets " #2", " #3", ...
std::vector<std::string> openALNames(const std::vector<RawDevice>& devices, int defaultAt) {
    std::vector<size_t> order;
    if (defaultAt >= 0) order.push_back(size_t(defaultAt));
    for (size_t i = 0; i < devices.size(); ++i)
        if (int(i) != defaultAt) order.push_back(i);
    std::vector<std::string> taken;
    std::vector<std::string> names(devices.size());
    for (size_t i : order) {
        std::string name = devices[i].description;
        for (int n = 2; std::find(taken.begin(), taken.end(), name) != taken.end(); ++n)
            name = devices[i].description + " #" + std::to_string(n);
        taken.push_back(name);
        names[i] = name;
    }
    return names;
}

}  // namespace

std::optional<std::vector<ZVAudioDevice>> ZVPulseDevices::read(bool input, std::string* error) {
    Exchange ex;
    ex.input = input;
    Connection connection;
    if (!connection.open(ex, error)) return std::nullopt;
    auto onServer = [](pa_context*, const pa_server_info* info, void* u) {
        auto* e = static_cast<Exchange*>(u);
        const char* name = !info      ? nullptr
                           : e->input ? info->default_source_name
                                      : info->default_sink_name;
        if (name) e->defaultName = name;
        pa_threaded_mainloop_signal(e->loop, 0);
    };
    bool ok = connection.run(
        ex, [&](pa_context* c, Exchange* e) { return pa_context_get_server_info(c, onServer, e); });
    ok = ok && connection.run(ex, [input](pa_context* c, Exchange* e) {
        return input ? pa_context_get_source_info_list(c, onSource, e)
                     : pa_context_get_sink_info_list(c, onSink, e);
    });
    if (!ok) {
        if (error)
            *error =
                ex.timedOut ? "the server did not answer" : "the device list could not be read";
        return std::nullopt;
    }

    std::vector<RawDevice>& raw = ex.devices;
    std::sort(raw.begin(), raw.end(), [](auto& a, auto& b) { return a.index < b.index; });
    int defaultAt = -1;
    for (size_t i = 0; i < raw.size(); ++i)
        if (raw[i].name == ex.defaultName) defaultAt = int(i);
    std::vector<std::string> names = openALNames(raw, defaultAt);

    std::vector<ZVAudioDevice> devices;
    for (size_t i = 0; i < raw.size(); ++i) {
        ZVAudioDevice d;
        d.deviceId = raw[i].index + 1;
        d.name = names[i];
        d.isDefault = int(i) == defaultAt;
        d.sources = raw[i].ports;
        d.currentSource = raw[i].activePort;
        devices.push_back(std::move(d));
    }
    return devices;
}
