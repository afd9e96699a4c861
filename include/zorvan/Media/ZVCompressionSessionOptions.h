#pragma once
// The options a compression session is created with. Codec settings give a first set
// (ZVCodecSettings::copyCompressionSessionOptions); the caller then changes single options.
// A setter answers 0 or a status code (kZVMediaErrParam for a value out of range,
// kZVMediaErrUnsupported for an unknown property) and then changes nothing.
//
// A value object without a lock: one thread at a time.
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>

#include "Media/ZVMediaTypes.h"

// Property class and ids for setProperty.
inline constexpr uint32_t kZVCompressionSessionOptionsPropertyClass = ZVFourCC("icso");
inline constexpr uint32_t kZVCompressionSessionOptionsPropertyID_MultiPassStorage =
    ZVFourCC("imps");  // 4 bytes; only 0 (single pass) is supported
inline constexpr uint32_t kZVCompressionSessionOptionsPropertyID_MaxFrameDelayCount =
    ZVFourCC("cwin");  // 4 bytes, int32
inline constexpr uint32_t kZVCompressionSessionOptionsPropertyID_CPUTimeBudget =
    ZVFourCC("cput");  // 4 bytes, uint32; 0 = no limit
inline constexpr uint32_t kZVCompressionSessionOptionsPropertyID_Quality =
    ZVFourCC("qual");  // 4 bytes, 0 ... 0x400
inline constexpr uint32_t kZVCompressionSessionOptionsPropertyID_AllowAsyncCompletion =
    ZVFourCC("asok");  // 1 byte, bool
inline constexpr uint32_t kZVCompressionSessionOptionsPropertyID_ScalingMode =
    ZVFourCC("scam");  // 4 bytes, one of the scaling modes below
inline constexpr uint32_t kZVCompressionSessionOptionsPropertyID_AverageDataRate =
    ZVFourCC("aver");  // 8 bytes, int64 bits per second; 0 = use the quality

// Scaling modes: how a source of another size is fitted to the session's size.
inline constexpr uint32_t kZVScalingMode_Normal = ZVFourCC("norm");     // stretched
inline constexpr uint32_t kZVScalingMode_Letterbox = ZVFourCC("lett");  // fitted, black bars

// Quality steps.
inline constexpr int32_t kZVCodecMinQuality = 0;
inline constexpr int32_t kZVCodecLowQuality = 0x100;
inline constexpr int32_t kZVCodecNormalQuality = 0x200;
inline constexpr int32_t kZVCodecHighQuality = 0x300;
inline constexpr int32_t kZVCodecMaxQuality = 0x3FF;
inline constexpr int32_t kZVCodecLosslessQuality = 0x400;

class ZVCompressionSessionOptions {
  public:
    long setAllowTemporalCompression(bool allow);
    long setAllowFrameReordering(bool allow);
    // 0 = the codec's own choice; negative values are refused.
    long setMaxKeyFrameInterval(int32_t interval);
    // Accepted and not kept: the sessions decide frame times and durations themselves (so
    // do the CPU time budget and async completion properties below).
    long setAllowFrameTimeChanges(bool) { return kZVMediaNoErr; }
    long setDurationsNeeded(bool) { return kZVMediaNoErr; }
    // One of the properties above; `size` must be the property's size.
    long setProperty(uint32_t propertyClass, uint32_t propertyID, const void* value, size_t size);
    // Codec-specific options, given to the codec library as name=value (e.g. "preset" =
    // "veryfast" for H.264). Unknown names are logged by the session and ignored.
    void setCodecOption(const std::string& name, const std::string& value);
    // The movie's nominal frames per second (0 = unknown). Frame times still come from the
    // time stamps; the encoder sizes its level and rate control by this rate, since the
    // time scale (ticks per second) says nothing about how often frames come.
    long setExpectedFrameRate(double rate);

    bool allowTemporalCompression() const { return _allowTemporalCompression; }
    bool allowFrameReordering() const { return _allowFrameReordering; }
    int32_t maxKeyFrameInterval() const { return _maxKeyFrameInterval; }
    int32_t maxFrameDelayCount() const { return _maxFrameDelayCount; }
    int32_t quality() const { return _quality; }
    uint32_t scalingMode() const { return _scalingMode; }
    int64_t averageDataRate() const { return _averageDataRate; }
    double expectedFrameRate() const { return _expectedFrameRate; }
    const std::map<std::string, std::string>& codecOptions() const { return _codecOptions; }

  private:
    bool _allowTemporalCompression = true;
    bool _allowFrameReordering = true;
    int32_t _maxKeyFrameInterval = 0;
    int32_t _maxFrameDelayCount = 15;
    int32_t _quality = kZVCodecNormalQuality;
    uint32_t _scalingMode = kZVScalingMode_Normal;
    int64_t _averageDataRate = 0;
    double _expectedFrameRate = 0;
    std::map<std::string, std::string> _codecOptions;
};
