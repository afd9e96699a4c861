#include "Foundation/ZVUserDirectory.h"

#include <cstdlib>

namespace {
std::string envOr(const char* name, const std::string& fallback) {
    const char* v = std::getenv(name);
    return v && *v ? v : fallback;
}
}  // namespace

std::string ZVUserDirectory(ZVUserDirectoryKind kind) {
    const std::string home = envOr("HOME", "/tmp");
    switch (kind) {
        case ZVUserDirectoryKind::data:
            return envOr("XDG_DATA_HOME", home + "/.local/share");
        case ZVUserDirectoryKind::state:
            return envOr("XDG_STATE_HOME", home + "/.local/state");
        case ZVUserDirectoryKind::config:
            return envOr("XDG_CONFIG_HOME", home + "/.config");
    }
    return home;
}
