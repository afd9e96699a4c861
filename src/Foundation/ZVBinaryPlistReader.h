#pragma once
#include "ZVPrivate.h"  // library-internal

// Reads binary property lists ("bplist00") without trusting a byte of them: every offset,
// count and reference is checked against the buffer, nesting is bounded and reference
// cycles are refused. Damaged lists give nullopt. Any thread.
#include <cstddef>
#include <cstdint>
#include <optional>

#include "Foundation/ZVValue.h"

std::optional<ZVValue> ZVReadBinaryPropertyList(const uint8_t* bytes, size_t length);
