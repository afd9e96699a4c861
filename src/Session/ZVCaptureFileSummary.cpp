#include "Session/ZVCaptureFileSummary.h"

#include <vector>

#include "Storage/ZVFomixFileReader.h"

std::optional<ZVCaptureFileSummary> ZVCaptureFileSummary::ofFile(const std::string& path) {
    ZVFomixFileReader reader;
    if (!reader.openFile(path)) return std::nullopt;
    ZVCaptureFileSummary s;
    s.fileSize = reader.size();
    s.accepted = reader.readHeader();
    s.header = reader.header();
    s.unfinished = !s.accepted && s.header.signature == 0 && s.fileSize >= kZVFomixHeaderSize;
    uint32_t width = 0, height = 0;
    s.canvasAccepted = s.accepted && reader.canvasSize(width, height);
    if (!s.canvasAccepted) return s;
    std::vector<uint8_t> pixels;
    const ZVFomixCanvas canvas = ZVFomixMakeCanvas(width, height, pixels);
    ZVFomixRecord record;
    while (reader.readFrame(record, canvas, false) == ZVFomixStep::Frame) {
        const ZVFrameInfo& i = record.info;
        if (s.records == 0) s.firstTimestamp = i.timestamp;
        s.lastTimestamp = i.timestamp;
        ++s.records;
        s.compressed += (i.frameFlags & kZVFrameCompress) != 0;
        s.withKeyStrokes += (i.frameFlags & kZVFrameHasKeyStrokes) != 0;
        s.unchanged += i.blocks == 0;
        s.blocks += i.blocks;
        s.blockBytes += i.dataSize;
        s.storedBytes += record.endOffset - record.startOffset;
    }
    return s;
}
