#include "Session/ZVCaptureRecords.h"

#include <vector>

bool ZVReadCaptureRecords(const std::string& path, const ZVFomixFileInfo* assumed,
                          const std::function<void(ZVSize)>& begin,
                          const std::function<void(const ZVFomixRecord&)>& each) {
    ZVFomixFileReader reader;
    if (!reader.openFile(path)) return false;
    if (assumed)
        reader.assumeHeader(*assumed);
    else if (!reader.readHeader())
        return false;
    uint32_t width = 0, height = 0;
    if (!reader.canvasSize(width, height)) return false;
    std::vector<uint8_t> pixels;
    const ZVFomixCanvas canvas = ZVFomixMakeCanvas(width, height, pixels);
    begin(ZVSize{float(width), float(height)});
    ZVFomixRecord record;
    while (reader.readFrame(record, canvas, true) == ZVFomixStep::Frame) each(record);
    return true;
}
