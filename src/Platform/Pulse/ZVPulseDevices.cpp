#include "Platform/Pulse/ZVPulseDevices.h"

#include "Platform/Pulse/ZVPulseConnection.h"

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <cstring>
#include <memory>

namespace {

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
    ZVPulseConnection* connection = nullptr;
    bool input = true;
    std::string defaultName;
    std::vector<RawDevice> devices;
};

template <typename Info>
void collect(const Info* info, int eol, void* userdata) {
    auto* ex = static_cast<Exchange*>(userdata);
    if (eol || !info) {
        ex->connection->signal();
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

// The devices of one direction in index order, each with its name as the list shows it,
// and which one is the server's default (-1: none).
struct Listing {
    std::vector<RawDevice> raw;
    std::vector<std::string> names;
    int defaultAt = -1;
};

std::optional<Listing> readListing(bool input, std::string* error) {
    ZVPulseConnection connection("Zorvan device list");
    if (!connection.open(error)) return std::nullopt;
    Exchange ex;
    ex.input = input;
    ex.connection = &connection;
    auto onServer = [](pa_context*, const pa_server_info* info, void* u) {
        auto* e = static_cast<Exchange*>(u);
        const char* name = !info      ? nullptr
                           : e->input ? info->default_source_name
                                      : info->default_sink_name;
        if (name) e->defaultName = name;
        e->connection->signal();
    };
    bool ok =
        connection.run([&](pa_context* c) { return pa_context_get_server_info(c, onServer, &ex); });
    ok = ok && connection.run([&](pa_context* c) {
        return input ? pa_context_get_source_info_list(c, onSource, &ex)
                     : pa_context_get_sink_info_list(c, onSink, &ex);
    });
    if (!ok) {
        if (error) *error = connection.lastError();
        return std::nullopt;
    }
    Listing l;
    l.raw = std::move(ex.devices);
    std::sort(l.raw.begin(), l.raw.end(), [](auto& a, auto& b) { return a.index < b.index; });
    for (size_t i = 0; i < l.raw.size(); ++i)
        if (l.raw[i].name == ex.defaultName) l.defaultAt = int(i);
    l.names = openALNames(l.raw, l.defaultAt);
    return l;
}

}  // namespace

std::optional<std::vector<ZVAudioDevice>> ZVPulseDevices::read(bool input, std::string* error) {
    auto listing = readListing(input, error);
    if (!listing) return std::nullopt;
    std::vector<ZVAudioDevice> devices;
    for (size_t i = 0; i < listing->raw.size(); ++i) {
        const RawDevice& raw = listing->raw[i];
        ZVAudioDevice d;
        d.deviceId = raw.index + 1;
        d.name = listing->names[i];
        d.isDefault = int(i) == listing->defaultAt;
        d.sources = raw.ports;
        d.currentSource = raw.activePort;
        devices.push_back(std::move(d));
    }
    return devices;
}

std::optional<std::string> ZVPulseDevices::sourceNamed(const std::string& name,
                                                       std::string* error) {
    auto listing = readListing(true, error);
    if (!listing) return std::nullopt;
    for (size_t i = 0; i < listing->raw.size(); ++i)
        if (listing->names[i] == name) return listing->raw[i].name;
    if (error) *error = "no input device \"" + name + "\"";
    return std::nullopt;
}
