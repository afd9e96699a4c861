#include "Media/ZVCompressionSessionOptions.h"

#include <cstring>

long ZVCompressionSessionOptions::setAllowTemporalCompression(bool allow) {
    _allowTemporalCompression = allow;
    return kZVMediaNoErr;
}

long ZVCompressionSessionOptions::setAllowFrameReordering(bool allow) {
    _allowFrameReordering = allow;
    return kZVMediaNoErr;
}

long ZVCompressionSessionOptions::setMaxKeyFrameInterval(int32_t interval) {
    if (interval < 0) return kZVMediaErrParam;
    _maxKeyFrameInterval = interval;
    return kZVMediaNoErr;
}

void ZVCompressionSessionOptions::setCodecOption(const std::string& name,
                                                 const std::string& value) {
    _codecOptions[name] = value;
}

namespace {
template <typename T>
bool readValue(const void* value, size_t size, T& out) {
    if (value == nullptr || size != sizeof(T)) return false;
    std::memcpy(&out, value, sizeof(T));
    return true;
}
}  // namespace

long ZVCompressionSessionOptions::setExpectedFrameRate(double rate) {
    if (!(rate >= 0 && rate <= 1000)) return kZVMediaErrParam;
    _expectedFrameRate = rate;
    return kZVMediaNoErr;
}

long ZVCompressionSessionOptions::setProperty(uint32_t propertyClass, uint32_t propertyID,
                                              const void* value, size_t size) {
    if (propertyClass != kZVCompressionSessionOptionsPropertyClass) return kZVMediaErrUnsupported;
    switch (propertyID) {
        case kZVCompressionSessionOptionsPropertyID_MultiPassStorage: {
            uint32_t v = 0;
            if (!readValue(value, size, v)) return kZVMediaErrParam;
            return v == 0 ? kZVMediaNoErr : kZVMediaErrUnsupported;  // single pass only
        }
        case kZVCompressionSessionOptionsPropertyID_MaxFrameDelayCount: {
            int32_t v = 0;
            if (!readValue(value, size, v) || v < 0) return kZVMediaErrParam;
            _maxFrameDelayCount = v;
            return kZVMediaNoErr;
        }
        case kZVCompressionSessionOptionsPropertyID_CPUTimeBudget: {
            uint32_t v = 0;
            return readValue(value, size, v) ? kZVMediaNoErr : kZVMediaErrParam;
        }
        case kZVCompressionSessionOptionsPropertyID_Quality: {
            int32_t v = 0;
            if (!readValue(value, size, v) || v < kZVCodecMinQuality || v > kZVCodecLosslessQuality)
                return kZVMediaErrParam;
            _quality = v;
            return kZVMediaNoErr;
        }
        case kZVCompressionSessionOptionsPropertyID_AllowAsyncCompletion: {
            uint8_t v = 0;
            return readValue(value, size, v) ? kZVMediaNoErr : kZVMediaErrParam;
        }
        case kZVCompressionSessionOptionsPropertyID_ScalingMode: {
            uint32_t v = 0;
            if (!readValue(value, size, v)) return kZVMediaErrParam;
            if (v != kZVScalingMode_Normal && v != kZVScalingMode_Letterbox)
                return kZVMediaErrUnsupported;
            _scalingMode = v;
            return kZVMediaNoErr;
        }
        case kZVCompressionSessionOptionsPropertyID_AverageDataRate: {
            int64_t v = 0;
            if (!readValue(value, size, v) || v < 0) return kZVMediaErrParam;
            _averageDataRate = v;
            return kZVMediaNoErr;
        }
        default:
            return kZVMediaErrUnsupported;
    }
}
