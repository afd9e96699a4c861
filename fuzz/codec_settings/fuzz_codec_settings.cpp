// Codec settings containers and presets come from files a user may have damaged: any bytes
// must load or be refused with a message, and what loads must save and load back equal.
#include <cstddef>
#include <cstdint>

#include "Foundation/ZVValue.h"
#include "Media/ZVCodecSettings.h"
#include "Media/ZVEncodingPreset.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    for (auto kind : {ZVCodecSettingsKind::video, ZVCodecSettingsKind::sound}) {
        ZVCodecSettings s(kind);
        if (s.load(data, size) != 0) {
            if (s.loadError().empty()) __builtin_trap();
            continue;
        }
        ZVCompressionSessionOptions o;
        (void)s.copyCompressionSessionOptions(o);
        ZVCodecSettings again(kind);
        if (again.load(s.save()) != 0 || !(again == s)) __builtin_trap();
    }
    if (auto v = ZVValue::fromPropertyList(data, size)) {
        if (auto p = ZVEncodingPreset::initWithDictRepresentation(*v)) {
            (void)p->outputSizeForRecordedSize({1920, 1080});
            auto copy = p->copy();
            if (!copy) __builtin_trap();
        }
    }
    return 0;
}
