#include "Platform/X11/ZVEDID.h"

#include <cstring>

std::optional<std::string> ZVEDIDProductName(const uint8_t* edid, size_t size) {
    static const uint8_t kHeader[8] = {0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};
    if (!edid || size < 128 || std::memcmp(edid, kHeader, sizeof kHeader) != 0) return std::nullopt;
    // Four 18-byte descriptors from byte 54; a display descriptor starts with a zero pixel
    // clock (two zero bytes), a zero byte and its tag; the text is 13 bytes from byte 5.
    for (size_t d = 54; d + 18 <= 126; d += 18) {
        const uint8_t* p = edid + d;
        if (p[0] != 0 || p[1] != 0 || p[2] != 0 || p[3] != 0xFC) continue;
        std::string name;
        for (size_t i = 5; i < 18 && p[i] != 0x0A && p[i] != 0; ++i)
            name.push_back(p[i] >= 0x20 && p[i] < 0x7F ? static_cast<char>(p[i]) : '?');
        while (!name.empty() && name.back() == ' ') name.pop_back();
        if (name.empty()) return std::nullopt;
        return name;
    }
    return std::nullopt;
}
