#include "Foundation/ZVLog.h"

#include <syslog.h>

#include <cstdarg>
#include <cstdio>
#include <memory>
#include <mutex>
#include <vector>

namespace {

std::string vformat(const char* format, va_list args) {
    va_list copy;
    va_copy(copy, args);
    int n = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    if (n <= 0) return std::string();
    std::string out(static_cast<size_t>(n) + 1, '\0');
    std::vsnprintf(out.data(), out.size(), format, args);
    out.resize(static_cast<size_t>(n));
    return out;
}

// Guards the sink. Leaked on purpose: detached workers may log while the process exits.
std::mutex& sinkLock() {
    static auto* m = new std::mutex;
    return *m;
}
std::shared_ptr<ZVLogSink>& sinkSlot() {
    static auto* s = new std::shared_ptr<ZVLogSink>;
    return *s;
}

}  // namespace

std::string ZVFormat(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string s = vformat(format, args);
    va_end(args);
    return s;
}

void ZVSetLogSink(ZVLogSink sink) {
    std::lock_guard<std::mutex> g(sinkLock());
    sinkSlot() = sink ? std::make_shared<ZVLogSink>(std::move(sink)) : nullptr;
}

void ZVLog(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string line = vformat(format, args);
    va_end(args);

    static std::once_flag opened;
    std::call_once(opened, [] { openlog("Zorvan", LOG_PID, LOG_USER); });
    syslog(LOG_NOTICE, "%s", line.c_str());

    std::shared_ptr<ZVLogSink> sink;
    {
        std::lock_guard<std::mutex> g(sinkLock());
        sink = sinkSlot();
    }
    // Called outside the lock so a sink may log or replace itself.
    if (sink) (*sink)(line);
}
