#include "Session/ZVInputPass.h"

#include <vector>

#include "Storage/ZVFomixFileReader.h"

ZVInputPass::Outcome ZVInputPass::read(const std::string& path, const ZVFomixFileInfo* assumed,
                                       bool withText) {
    ZVFomixFileReader reader;
    if (!reader.openFile(path)) return Outcome::unreadable;
    if (assumed)
        reader.assumeHeader(*assumed);
    else if (!reader.readHeader())
        return Outcome::unreadable;
    uint32_t width = 0, height = 0;
    if (!reader.canvasSize(width, height)) return Outcome::unreadable;
    std::vector<uint8_t> pixels;
    const ZVFomixCanvas canvas = ZVFomixMakeCanvas(width, height, pixels);
    const ZVSize size{float(width), float(height)};
    _input.emplace(size);
    if (withText) _text.emplace(size);
    ZVFomixRecord r;
    while (reader.readFrame(r, canvas, true) == ZVFomixStep::Frame) {
        if (_stop.load(std::memory_order_relaxed)) return Outcome::stopped;
        _input->addRecord(r.info,
                          r.hasKeyStrokes ? ZVRecordedInput::keyStrokeCount(r.keyStrokes) : 0);
        if (_text)
            _text->addRecord(r.info, r.hasKeyStrokes ? &r.keyStrokes : nullptr,
                             r.hasKeyText ? &r.keyText : nullptr);
        _recordsRead.fetch_add(1, std::memory_order_relaxed);
    }
    return Outcome::read;
}
