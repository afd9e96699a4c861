// Geometry strings come from the command line: any bytes give a rectangle or nothing.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "Platform/X11/ZVX11Geometry.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (auto g = ZVParseX11Geometry(std::string_view(reinterpret_cast<const char*>(data), size))) {
        if (g->width < 1 || g->height < 1 || g->width > 32767 || g->height > 32767)
            __builtin_trap();
    }
    return 0;
}
