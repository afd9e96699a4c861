#include "Session/ZVReadRecordedInput.h"

#include "Session/ZVCaptureRecords.h"
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
    std::optional<ZVRecordedInput> input;
    const auto begin = [&](ZVSize size) { input.emplace(size); };
    const auto each = [&](const ZVFomixRecord& record) {
        input->addRecord(record.info, record.hasKeyStrokes
                                          ? ZVRecordedInput::keyStrokeCount(record.keyStrokes)
                                          : 0);
    };
    if (!capture || !ZVReadCaptureRecords(*capture, nullptr, begin, each))
        return fail(path +
                    ": the recording has no screen track that can be read (zorvan repair mends "
                    "one that was not closed)");
    return input;
}
