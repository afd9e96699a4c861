// The cursor a compositor sends beside a screen-cast frame is another process's bytes:
// input is one cursor metadata block (position, hot spot, bitmap offset, then the bitmap's
// header and pixels). Reading it must never leave the block, and a bitmap it gives must
// have exactly width x height pixels.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "Platform/PipeWire/ZVPipeWireCursorMeta.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const ZVPipeWireCursorMeta meta = ZVReadPipeWireCursorMeta(data, size);
    if (meta.image &&
        meta.image->pixels.size() != size_t(meta.image->width) * size_t(meta.image->height) * 4)
        std::abort();
    return 0;
}
