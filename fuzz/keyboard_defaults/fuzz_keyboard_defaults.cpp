// The keyboard setting file is the system's, but any bytes must give names or none.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "Keys/ZVKeyboardDefaults.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ZVXkbNames n =
        ZVParseKeyboardDefaults(std::string_view(reinterpret_cast<const char*>(data), size));
    if (n.layout.size() > size || n.options.size() > size) __builtin_trap();
    return 0;
}
