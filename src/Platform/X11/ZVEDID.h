#pragma once
#include "ZVPrivate.h"  // library-internal

// The monitor-name descriptor of an EDID block.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

// The product name from the first monitor-name descriptor (tag 0xFC) of a 128-byte (or
// longer) EDID base block, trailing blanks and the line feed removed; nullopt when the
// block is short, has a bad header or carries no name. Never reads past `size`. Any thread.
std::optional<std::string> ZVEDIDProductName(const uint8_t* edid, size_t size);
