#pragma once
// Codec settings: what the user chose for the video or the sound codec of a movie, kept as
// our own versioned container (a binary property list, see ZVCodecSettings.cpp) that a
// preset stores as opaque bytes. Loading refuses unknown or damaged bytes with a clear
// message and leaves the settings as they were.
//
// A value object without a lock: one thread at a time.
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "Media/ZVCompressionSessionOptions.h"
#include "Media/ZVMediaTypes.h"

enum class ZVCodecSettingsKind : uint32_t {
    video = ZVFourCC("imag"),
    sound = ZVFourCC("audi"),
};

// The preference flags a video settings user sets before showing the dialog.
inline constexpr uint32_t kZVVideoSettingsPreferenceFlags = 0x588;

class ZVCodecSettings {
  public:
    // Defaults: video H.264 at normal quality, no frame rate, key frames chosen by the codec;
    // sound AAC 44.1 kHz stereo at 128 kbit/s. Any thread.
    explicit ZVCodecSettings(ZVCodecSettingsKind kind);
    static std::shared_ptr<ZVCodecSettings> create(ZVCodecSettingsKind kind);

    ZVCodecSettingsKind kind() const { return _kind; }

    // Replaces every setting with the container's. Empty bytes restore the defaults.
    // Answers 0, or kZVMediaErrBadSettings with loadError() saying what is wrong (then
    // nothing changed, and copyCompressionSessionOptions fails with the same code until a
    // later load succeeds).
    long load(const uint8_t* bytes, size_t size);
    long load(const std::vector<uint8_t>& bytes) { return load(bytes.data(), bytes.size()); }
    const std::string& loadError() const { return _loadError; }
    // The container holding every setting.
    std::vector<uint8_t> save() const;

    // Preference flags for the dialog; kept, not saved.
    void setPreferenceFlags(uint32_t flags) { _preferenceFlags = flags; }
    uint32_t preferenceFlags() const { return _preferenceFlags; }

    // Video.
    uint32_t codecType() const { return _codecType; }
    void setCodecType(uint32_t type) { _codecType = type; }
    int32_t frameRate() const { return _frameRate; }  // 16.16; 0 = none chosen
    void setFrameRate(int32_t rate) { _frameRate = rate; }
    int32_t keyFrameInterval() const { return _keyFrameInterval; }  // 0 = the codec's
    void setKeyFrameInterval(int32_t frames) { _keyFrameInterval = frames; }
    int32_t quality() const { return _quality; }  // kZVCodecMinQuality ... Lossless
    void setQuality(int32_t quality) { _quality = quality; }
    int64_t bitRate() const { return _bitRate; }  // bits per second; 0 = use the quality
    void setBitRate(int64_t bitsPerSecond) { _bitRate = bitsPerSecond; }
    // Codec-specific options, name = value (both kinds).
    const std::map<std::string, std::string>& codecOptions() const { return _codecOptions; }
    void setCodecOption(const std::string& name, const std::string& value);
    void removeCodecOption(const std::string& name) { _codecOptions.erase(name); }
    // A new options object from the video settings: key-frame interval, quality or data
    // rate and codec options. 0, or the last load's error (`options` unchanged).
    long copyCompressionSessionOptions(ZVCompressionSessionOptions& options) const;

    // Sound.
    const ZVAudioStreamDescription& outputDescription() const { return _outputDescription; }
    void setOutputDescription(const ZVAudioStreamDescription& d) { _outputDescription = d; }
    // Switches the output to AAC, Apple Lossless or linear PCM (interleaved 16-bit, the only
    // PCM the movie writer takes), with that format's packet layout; the sample rate and
    // channels stay.
    void setSoundFormat(uint32_t formatID);
    // Whether packets of the output vary in size and need descriptions (not PCM).
    bool needsPacketDescriptions() const;
    uint32_t channelLayoutTag() const { return _channelLayoutTag; }
    void setChannelLayoutTag(uint32_t tag) { _channelLayoutTag = tag; }
    uint32_t renderQuality() const { return _renderQuality; }  // 0 ... 127
    void setRenderQuality(uint32_t quality) { _renderQuality = quality; }
    const std::vector<uint8_t>& magicCookie() const { return _magicCookie; }
    void setMagicCookie(std::vector<uint8_t> cookie) { _magicCookie = std::move(cookie); }

    bool operator==(const ZVCodecSettings& other) const;

  private:
    void resetToDefaults();

    ZVCodecSettingsKind _kind;
    uint32_t _preferenceFlags = 0;
    long _loadStatus = 0;
    std::string _loadError;

    uint32_t _codecType = 0;
    int32_t _frameRate = 0;
    int32_t _keyFrameInterval = 0;
    int32_t _quality = 0;
    int64_t _bitRate = 0;
    std::map<std::string, std::string> _codecOptions;

    ZVAudioStreamDescription _outputDescription;
    uint32_t _channelLayoutTag = 0;
    uint32_t _renderQuality = 0;
    std::vector<uint8_t> _magicCookie;
};
