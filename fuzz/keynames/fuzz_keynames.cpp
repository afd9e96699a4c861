// The KeyNames strings table: any bytes give a table or nothing, never a crash, and
// every word it holds formats safely.
#include <cstddef>
#include <cstdint>

#include "Keys/SRKeyNamesTable.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    auto table = SRKeyNamesTable::parse(data, size);
    if (!table) return 0;
    for (const auto& [key, word] : *table) {
        (void)SRKeyNamesTable::applyFormat(word, key);
        (void)SRKeyNamesTable::applyFormat(key, word);
    }
    return 0;
}
