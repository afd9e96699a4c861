// Any bytes as a capture file, read record by record through the synchronous reader the
// reading stage uses: it must end in order without touching memory outside its buffers,
// and a file it refuses is read again as an unfinished one, as the repair does.
#include <cstdint>
#include <vector>

#include "Storage/ZVFomixFileReader.h"

namespace {
// The fuzzer's memory limit is below the reader's own bound for a canvas.
constexpr size_t kMaxCanvas = size_t(16) << 20;

void readRecords(ZVFomixFileReader& reader) {
    uint32_t width = 0, height = 0;
    if (!reader.canvasSize(width, height, kMaxCanvas)) return;
    std::vector<uint8_t> pixels;
    const ZVFomixCanvas canvas = ZVFomixMakeCanvas(width, height, pixels);
    ZVFomixRecord record;
    while (reader.readFrame(record, canvas, true) == ZVFomixStep::Frame) {
        if (record.hasKeyText && record.keyText.find('\0') != std::string::npos) __builtin_trap();
    }
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ZVFomixFileReader reader;
    reader.openMemory(data, size);
    if (reader.readHeader()) {
        readRecords(reader);
        return 0;
    }
    // As the repair: the first record's size stands for the header's.
    ZVFomixFileInfo header;
    header.signature = kZVFomixSignature;
    if (size >= kZVFomixHeaderSize + kZVFomixInfoSize) {
        ZVFrameInfo first;
        __builtin_memcpy(&first, data + kZVFomixHeaderSize, sizeof first);
        header.initialDimensions = first.dimensions;
    }
    reader.assumeHeader(header);
    readRecords(reader);
    return 0;
}
