// Any bytes as a package's microphone track, judged and mended as `zorvan info` and
// `zorvan repair` do: the judgement ends in order; a track judged fine or beyond mending
// is left byte for byte; one that was mended is judged fine afterwards.
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "Session/ZVRecordingRepair.h"
#include "Storage/ZVFomixXManager.h"
#include "ZVFuzzScratch.h"

namespace {
std::vector<uint8_t> contents(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

ZVFileVerdict::State audioState(const std::vector<ZVFileVerdict>& verdicts,
                                const std::string& wav) {
    for (const auto& v : verdicts)
        if (v.path == wav) return v.state;
    __builtin_trap();  // every listed track is judged
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    namespace fs = std::filesystem;
    const std::string package = zvFuzzScratchDir() + "/p.fomixx";
    std::error_code ec;
    fs::remove_all(package, ec);
    auto manager = ZVFomixXManager::initWithFile(package);
    manager->createFomixX();
    const std::string wav = *manager->createPathForPackageResource(ZVFomixXResourceAudio);
    std::ofstream(wav, std::ios::binary).write(reinterpret_cast<const char*>(data), long(size));
    const std::vector<uint8_t> given(data, data + size);

    using State = ZVFileVerdict::State;
    const State judged = audioState(ZVRepairRecording(package, true), wav);
    if (contents(wav) != given) __builtin_trap();  // looking changes nothing
    const State done = audioState(ZVRepairRecording(package, false, true), wav);
    if (done != judged) __builtin_trap();  // repair does what info said
    if (judged != State::Mendable && contents(wav) != given) __builtin_trap();
    if (judged == State::Mendable && fs::exists(wav) &&
        audioState(ZVRepairRecording(package, true), wav) != State::Fine)
        __builtin_trap();
    return 0;
}
