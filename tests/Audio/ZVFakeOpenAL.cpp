#include "ZVFakeOpenAL.h"

#include <cstring>

ZVFakeOpenAL* ZVFakeOpenAL::current = nullptr;

const ZVOpenALProvider ZVFakeOpenAL::kProvider = {
    [](const char* name, uint32_t, int32_t, int32_t) -> void* {
        current->note(std::string("open ") + (name ? name : "(default)"));
        return current->opens ? current : nullptr;
    },
    [](void*) -> int32_t { return current->error.load(); },
    [](void*) {
        current->note("start");
        if (current->onStart) current->onStart();
    },
    [](void*) { current->note("stop"); },
    [](void*, int32_t param, int32_t size, int32_t* values) {
        if (param == kZVALCCaptureSamples && size >= 1)
            *values = current->readyFrames ? current->readyFrames() : current->ready.load();
        if (param == kZVALCConnected && size >= 1) *values = current->connected.load();
    },
    [](void*, void* buffer, int32_t frames) {
        current->note("read " + std::to_string(frames));
        if (current->fill) return current->fill(buffer, frames);
        std::memset(buffer, 0x5A, size_t(frames) * 4);
        current->ready -= frames;
        ++current->reads;
    },
    [](void*) -> bool {
        current->note("close");
        return true;
    },
};

ZVFakeOpenAL::ZVFakeOpenAL() : _services(ZVPlatformDefaults()) {
    current = this;
    _services.capture = ZVOpenALCaptureProvider(&kProvider);
}

ZVFakeOpenAL::~ZVFakeOpenAL() {
    current = nullptr;
}

void ZVFakeOpenAL::note(std::string call) {
    std::lock_guard<std::mutex> g(_lock);
    _calls.push_back(std::move(call));
}

std::vector<std::string> ZVFakeOpenAL::calls() {
    std::lock_guard<std::mutex> g(_lock);
    return _calls;
}
