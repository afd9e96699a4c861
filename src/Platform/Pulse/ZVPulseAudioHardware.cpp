#include "Platform/Pulse/ZVPulseAudioHardware.h"

#include <vector>

#include "Platform/Pulse/ZVPulseConnection.h"
#include "Platform/Pulse/ZVPulseDevices.h"
#include "Platform/Pulse/ZVPulseStream.h"

namespace {
// What one request's callback answers; written on the main-loop thread while the caller
// waits, read after the request ended.
struct Answer {
    ZVPulseConnection* connection = nullptr;
    bool success = false;
    uint32_t index = PA_INVALID_INDEX;
    std::vector<uint32_t> modules;
    std::string module, marker;
};

void onSuccess(pa_context*, int success, void* u) {
    auto* a = static_cast<Answer*>(u);
    a->success = success != 0;
    a->connection->signal();
}

bool fail(std::string* error, const std::string& why) {
    if (error) *error = why;
    return false;
}
}  // namespace

std::optional<std::vector<ZVAudioDevice>> ZVPulseAudioHardware::devices(bool input,
                                                                        std::string* error) {
    return ZVPulseDevices::read(input, error);
}

bool ZVPulseAudioHardware::setDefaultOutputDevice(uint32_t deviceId, std::string* error) {
    if (deviceId == 0) return fail(error, "no output device");
    ZVPulseConnection c("Zorvan default output");
    if (!c.open(error)) return false;
    auto sink = c.sinkByIndex(deviceId - 1);
    if (!sink || sink->name.empty())
        return fail(error, "no output device " + std::to_string(deviceId));
    Answer a;
    a.connection = &c;
    bool ok = c.run([&](pa_context* ctx) {
        return pa_context_set_default_sink(ctx, sink->name.c_str(), onSuccess, &a);
    });
    return (ok && a.success) || fail(error, c.lastError());
}

std::optional<uint32_t> ZVPulseAudioHardware::loadModule(const std::string& name,
                                                         const std::string& arguments,
                                                         std::string* error) {
    ZVPulseConnection c("Zorvan module loader");
    if (!c.open(error)) return std::nullopt;
    Answer a;
    a.connection = &c;
    auto onIndex = [](pa_context*, uint32_t index, void* u) {
        auto* a = static_cast<Answer*>(u);
        a->index = index;
        a->connection->signal();
    };
    bool ok = c.run([&](pa_context* ctx) {
        return pa_context_load_module(ctx, name.c_str(), arguments.c_str(), onIndex, &a);
    });
    if (ok && a.index != PA_INVALID_INDEX) return a.index;
    fail(error, "the server refused " + name + " " + arguments + ": " + c.lastError());
    return std::nullopt;
}

std::optional<int> ZVPulseAudioHardware::unloadModules(const std::string& name,
                                                       const std::string& marker,
                                                       std::string* error) {
    ZVPulseConnection c("Zorvan module loader");
    if (!c.open(error)) return std::nullopt;
    Answer a;
    a.connection = &c;
    a.module = name;
    a.marker = marker;
    auto onModule = [](pa_context*, const pa_module_info* info, int eol, void* u) {
        auto* a = static_cast<Answer*>(u);
        if (eol || !info) {
            a->connection->signal();
            return;
        }
        if (info->name && a->module == info->name && info->argument &&
            std::string(info->argument).find(a->marker) != std::string::npos)
            a->modules.push_back(info->index);
    };
    if (!c.run(
            [&](pa_context* ctx) { return pa_context_get_module_info_list(ctx, onModule, &a); })) {
        fail(error, c.lastError());
        return std::nullopt;
    }
    // Later modules first: a module loaded on top of another goes before it.
    int unloaded = 0;
    for (auto it = a.modules.rbegin(); it != a.modules.rend(); ++it) {
        bool ok = c.run(
            [&](pa_context* ctx) { return pa_context_unload_module(ctx, *it, onSuccess, &a); });
        if (ok && a.success) ++unloaded;
    }
    return unloaded;
}

std::unique_ptr<ZVAudioStream> ZVPulseAudioHardware::openStream(uint32_t deviceId, bool input,
                                                                ZVAudioIOProc proc,
                                                                void* clientData,
                                                                std::string* error) {
    if (deviceId == 0) {
        fail(error, "no output device");
        return nullptr;
    }
    return ZVPulseStream::open(deviceId - 1, input, proc, clientData, error);
}
