#include "Session/ZVReadRecordedInput.h"

#include <vector>

#include "Storage/ZVFomixFileReader.h"
#include "Storage/ZVFomixXManager.h"

std::optional<ZVRecordedInput> ZVReadRecordedInput(const std::string& path, std::string* error) {
    auto fail = [&](const std::string& why) -> std::optional<ZVRecordedInput> {
        if (error) *error = why;
        return std::nullopt;
    };
    auto package = ZVFomixXManager::initWithFile(path);
    if (!package->exists()) return fail(path + ": no such recording");
    const auto capture = package->pathForResource(ZVFomixXResourceVideo);
    if (!capture && !package->infoError().empty()) return fail(package->infoError());
    // A capture file whose writer never finished is a repair's to make whole.
    ZVFomixFileReader reader;
    uint32_t width = 0, height = 0;
    if (!capture || !reader.openFile(*capture) || !reader.readHeader() ||
        !reader.canvasSize(width, height))
        return fail(path +
                    ": the recording has no screen track that can be read (zorvan repair mends "
                    "one that was not closed)");
    // The reader applies each record to a canvas; the pixels are not looked at.
    std::vector<uint8_t> pixels;
    const ZVFomixCanvas canvas = ZVFomixMakeCanvas(width, height, pixels);
    ZVRecordedInput input(ZVSize{float(width), float(height)});
    ZVFomixRecord record;
    while (reader.readFrame(record, canvas, true) == ZVFomixStep::Frame)
        input.addRecord(record.info, record.hasKeyStrokes
                                         ? ZVRecordedInput::keyStrokeCount(record.keyStrokes)
                                         : 0);
    return input;
}
