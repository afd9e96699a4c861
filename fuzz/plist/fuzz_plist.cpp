// Property lists come from files a user may have damaged (package Info.plist, cursor
// lists, presets): parsing any bytes must end in a value or nothing.
#include <cstddef>
#include <cstdint>

#include "Foundation/ZVValue.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (auto v = ZVValue::fromPropertyList(data, size)) {
        auto bin = v->toBinaryPropertyList();
        ZVValue::fromPropertyList(bin.data(), bin.size());
        (void)v->toXMLPropertyList();
    }
    return 0;
}
