#include "Keys/ZVXkbContext.h"

#include <cstdarg>
#include <cstdio>
#include <string>

#include "Foundation/ZVLog.h"

namespace {

void logToZVLog(xkb_context*, xkb_log_level, const char* format, va_list args) {
    char buffer[512];
    vsnprintf(buffer, sizeof buffer, format, args);
    std::string line(buffer);
    while (!line.empty() && line.back() == '\n') line.pop_back();
    ZVLog("xkbcommon: %s", line.c_str());
}

}  // namespace

xkb_context* ZVNewXkbContext(xkb_context_flags flags) {
    xkb_context* context = xkb_context_new(flags);
    if (context) xkb_context_set_log_fn(context, logToZVLog);
    return context;
}
