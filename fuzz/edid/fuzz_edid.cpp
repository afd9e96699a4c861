// EDID blocks come from monitors, some of them broken: any bytes give a name or nothing.
#include <cstddef>
#include <cstdint>

#include "Platform/X11/ZVEDID.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (auto name = ZVEDIDProductName(data, size)) {
        if (name->empty() || name->size() > 13) __builtin_trap();
    }
    return 0;
}
