// The loopback driver's two small readers: the redirection state file (any bytes give a
// line or nothing) and the version rule over two dotted versions (the input's two lines).
#include <stdlib.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

#include "Audio/ZVSystemSoundSupport.h"
#include "ZVFuzzScratch.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool ready = [] {
        setenv("XDG_STATE_HOME", zvFuzzScratchDir().c_str(), 1);
        return true;
    }();
    (void)ready;
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::string path = ZVSystemSoundSupport::redirectionStatePath();
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec);
    std::ofstream(path, std::ios::binary) << text;
    (void)ZVSystemSoundSupport::staleRedirection();

    size_t cut = text.find('\n');
    std::string installed = text.substr(0, cut);
    std::string shipped = cut == std::string::npos ? std::string() : text.substr(cut + 1);
    (void)ZVSystemSoundSupport::shippedVersionIsNewer(installed, shipped);
    return 0;
}
