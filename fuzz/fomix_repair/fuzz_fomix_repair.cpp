// Any bytes as a capture file to repair: the repair ends in order, keeps the original
// byte for byte, and what it mends reads to its end (a second repair finds nothing to do).
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

#include "Storage/ZVFomixRepair.h"
#include "ZVFuzzScratch.h"

namespace {
// The fuzzer's memory limit is below the reader's own bound for a canvas.
constexpr size_t kMaxCanvas = size_t(16) << 20;

std::vector<uint8_t> contents(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string path = zvFuzzScratchDir() + "/c.fomix";
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return 0;
    std::fwrite(data, 1, size, f);
    std::fclose(f);
    using Outcome = ZVFomixRepairResult::Outcome;
    const ZVFomixRepairResult fix = ZVFomixRepair(path, false, false, kMaxCanvas);
    if (fix.outcome == Outcome::Repaired) {
        if (contents(fix.damagedPath) != std::vector<uint8_t>(data, data + size)) __builtin_trap();
        if (ZVFomixRepair(path, true, false, kMaxCanvas).outcome != Outcome::AlreadyReadable)
            __builtin_trap();
        unlink(fix.damagedPath.c_str());
    } else if (contents(path) != std::vector<uint8_t>(data, data + size)) {
        __builtin_trap();  // refused or readable: untouched
    }
    unlink(path.c_str());
    return 0;
}
