// The kept screen-sharing tokens are read from a file in the user's state folder: any bytes
// give a set of tokens that writes back and reads again as the same set.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "Platform/PipeWire/ZVScreenCastTokenFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    auto tokens =
        ZVScreenCastTokenFile::parse(std::string_view(reinterpret_cast<const char*>(data), size));
    auto again = ZVScreenCastTokenFile::parse(ZVScreenCastTokenFile::format(tokens));
    if (again.size() != tokens.size()) __builtin_trap();
    for (const auto& [types, kept] : tokens) {
        auto found = again.find(types);
        if (found == again.end() || found->second.token != kept.token ||
            found->second.desktop != kept.desktop)
            __builtin_trap();
    }
    return 0;
}
