#include "Media/ZVMediaTypes.h"

#include <strings.h>

#include <cmath>
#include <limits>

std::string ZVStringFromFourCC(uint32_t code) {
    std::string s(4, '?');
    for (int i = 0; i < 4; i++) {
        char c = static_cast<char>((code >> (24 - 8 * i)) & 0xFF);
        if (c >= 0x20 && c < 0x7F) s[i] = c;
    }
    return s;
}

int32_t ZVDoubleToFixed(double d) {
    double f = std::round(d * 65536.0);
    if (!(f > std::numeric_limits<int32_t>::min())) return std::numeric_limits<int32_t>::min();
    if (f >= std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
    return static_cast<int32_t>(f);
}

std::optional<ZVMovieContainer> ZVMovieContainerForPath(const std::string& path) {
    static const std::pair<const char*, ZVMovieContainer> kKnown[] = {
        {".mov", ZVMovieContainer::QuickTime},
        {".mp4", ZVMovieContainer::MP4},
        {".webm", ZVMovieContainer::WebM},
        {".gif", ZVMovieContainer::GIF}};
    const size_t dot = path.rfind('.');
    if (dot == std::string::npos || path.find('/', dot) != std::string::npos) return std::nullopt;
    for (const auto& [extension, container] : kKnown)
        if (::strcasecmp(path.c_str() + dot, extension) == 0) return container;
    return std::nullopt;
}

bool ZVMovieContainerHolds(ZVMovieContainer container, uint32_t code) {
    return container != ZVMovieContainer::MP4 ||
           (code != kZVVideoCodecType_ProRes422 && code != kZVVideoCodecType_Animation &&
            code != kZVAudioFormat_LinearPCM);
}
