// The container is a binary property list:
//   {"Format": "ZVCodecSettings", "Version": 1, "Kind": "video" | "sound",
//    "Options": {name: value, ...},
//    video: "CodecType", "FrameRate" (16.16), "KeyFrameInterval", "Quality", "BitRate";
//    sound: "Output" {"SampleRate", "FormatID", "FormatFlags", "BytesPerPacket",
//           "FramesPerPacket", "BytesPerFrame", "ChannelsPerFrame", "BitsPerChannel"},
//           "ChannelLayoutTag", "RenderQuality", "MagicCookie" (data)}
// A later version may add keys; a reader refuses a higher version than its own, since
// the meaning of known keys may have changed there.
#include "Media/ZVCodecSettings.h"

#include <optional>

#include "Foundation/ZVBinaryPlistReader.h"
#include "Foundation/ZVLog.h"
#include "Foundation/ZVValue.h"

namespace {
constexpr const char* kFormatName = "ZVCodecSettings";
constexpr int64_t kVersion = 1;
constexpr size_t kMaxOptions = 256;
constexpr size_t kMaxOptionLength = 4096;
constexpr size_t kMaxCookie = 1 << 20;

const char* kindName(ZVCodecSettingsKind kind) {
    return kind == ZVCodecSettingsKind::video ? "video" : "sound";
}

// Well-formed UTF-8 (what a property list can write back), no overlong forms or surrogates.
bool isUTF8(const std::string& s) {
    size_t i = 0, n = s.size();
    while (i < n) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        size_t extra = c < 0x80           ? 0
                       : (c >> 5) == 0x6  ? 1
                       : (c >> 4) == 0xE  ? 2
                       : (c >> 3) == 0x1E ? 3
                                          : 9;
        if (extra == 9 || extra > n - i - 1) return false;  // a bad lead byte, or cut short
        uint32_t cp = extra == 0 ? c : c & (0x3F >> extra);
        for (size_t k = 1; k <= extra; k++) {
            unsigned char d = static_cast<unsigned char>(s[i + k]);
            if ((d >> 6) != 0x2) return false;
            cp = (cp << 6) | (d & 0x3F);
        }
        static const uint32_t minimum[] = {0, 0x80, 0x800, 0x10000};
        if (cp < minimum[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
        i += extra + 1;
    }
    return true;
}

bool isKnownVideoCodec(uint32_t t) {
    return t == kZVVideoCodecType_H264 || t == kZVVideoCodecType_HEVC ||
           t == kZVVideoCodecType_ProRes422 || t == kZVVideoCodecType_Animation ||
           t == kZVVideoCodecType_PNG || t == kZVVideoCodecType_MotionJPEG ||
           t == kZVVideoCodecType_VP9 || t == kZVVideoCodecType_GIF;
}

bool isKnownSoundFormat(uint32_t t) {
    return t == kZVAudioFormat_LinearPCM || t == kZVAudioFormat_AAC ||
           t == kZVAudioFormat_AppleLossless || t == kZVAudioFormat_Opus;
}

// Reads what a container says, checking every type and range; the first problem found is
// kept as the reason for refusing it.
class Reader {
  public:
    explicit Reader(const ZVValue& dict) : _dict(dict) {}
    std::string problem;

    std::optional<int64_t> integer(const ZVValue& in, const char* key, int64_t min, int64_t max,
                                   bool required) {
        const ZVValue* v = in.get(key);
        if (!v) {
            if (required) fail(std::string("\"") + key + "\" is missing");
            return std::nullopt;
        }
        if (v->kind() != ZVValue::Kind::Integer) {
            fail(std::string("\"") + key + "\" is not an integer");
            return std::nullopt;
        }
        int64_t n = v->intValue();
        if (n < min || n > max) {
            fail(std::string("\"") + key + "\" is out of range (" + std::to_string(n) + ")");
            return std::nullopt;
        }
        return n;
    }
    std::optional<double> real(const ZVValue& in, const char* key, double min, double max) {
        const ZVValue* v = in.get(key);
        if (!v || !v->isNumber() || v->kind() == ZVValue::Kind::Bool) {
            fail(std::string("\"") + key + "\" is missing or not a number");
            return std::nullopt;
        }
        double d = v->doubleValue();
        if (!(d >= min && d <= max)) {
            fail(std::string("\"") + key + "\" is out of range");
            return std::nullopt;
        }
        return d;
    }
    const ZVValue& dict() const { return _dict; }
    void fail(std::string why) {
        if (problem.empty()) problem = std::move(why);
    }
    bool ok() const { return problem.empty(); }

  private:
    const ZVValue& _dict;
};
}  // namespace

ZVCodecSettings::ZVCodecSettings(ZVCodecSettingsKind kind) : _kind(kind) {
    resetToDefaults();
}

std::shared_ptr<ZVCodecSettings> ZVCodecSettings::create(ZVCodecSettingsKind kind) {
    return std::make_shared<ZVCodecSettings>(kind);
}

void ZVCodecSettings::resetToDefaults() {
    _codecType = _kind == ZVCodecSettingsKind::video ? kZVVideoCodecType_H264 : 0;
    _frameRate = 0;
    _keyFrameInterval = 0;
    _quality = _kind == ZVCodecSettingsKind::video ? kZVCodecNormalQuality : 0;
    _bitRate = _kind == ZVCodecSettingsKind::sound ? 128000 : 0;
    _codecOptions.clear();
    _outputDescription = {};
    _channelLayoutTag = 0;
    _renderQuality = 0;
    _magicCookie.clear();
    if (_kind == ZVCodecSettingsKind::sound) {
        _outputDescription.sampleRate = 44100;
        _outputDescription.formatID = kZVAudioFormat_AAC;
        _outputDescription.framesPerPacket = 1024;
        _outputDescription.channelsPerFrame = 2;
        _channelLayoutTag = kZVChannelLayoutTag_Stereo;
        _renderQuality = 64;
    }
}

void ZVCodecSettings::setSoundFormat(uint32_t formatID) {
    ZVAudioStreamDescription& d = _outputDescription;
    d.formatID = formatID;
    d.formatFlags = 0;
    d.bytesPerPacket = d.bytesPerFrame = d.bitsPerChannel = 0;
    d.framesPerPacket = formatID == kZVAudioFormat_AAC ? 1024 : 4096;
    if (formatID == kZVAudioFormat_Opus) d.framesPerPacket = 960;         // 20 ms at 48 kHz
    if (formatID == kZVAudioFormat_AppleLossless) d.bitsPerChannel = 16;  // what is recorded
    if (formatID == kZVAudioFormat_LinearPCM) {
        d.formatFlags = kZVAudioFormatFlagIsSignedInteger | kZVAudioFormatFlagIsPacked;
        d.bitsPerChannel = 16;
        d.framesPerPacket = 1;
        d.bytesPerFrame = d.bytesPerPacket = 2 * d.channelsPerFrame;
    }
}

void ZVCodecSettings::setCodecOption(const std::string& name, const std::string& value) {
    _codecOptions[name] = value;
}

bool ZVCodecSettings::needsPacketDescriptions() const {
    return _outputDescription.formatID != kZVAudioFormat_LinearPCM;
}

bool ZVCodecSettings::operator==(const ZVCodecSettings& o) const {
    return _kind == o._kind && _codecType == o._codecType && _frameRate == o._frameRate &&
           _keyFrameInterval == o._keyFrameInterval && _quality == o._quality &&
           _bitRate == o._bitRate && _codecOptions == o._codecOptions &&
           _outputDescription == o._outputDescription && _channelLayoutTag == o._channelLayoutTag &&
           _renderQuality == o._renderQuality && _magicCookie == o._magicCookie;
}

std::vector<uint8_t> ZVCodecSettings::save() const {
    ZVValue d = ZVValue::dict();
    d.set("Format", kFormatName);
    d.set("Version", kVersion);
    d.set("Kind", kindName(_kind));
    ZVValue options = ZVValue::dict();
    for (const auto& [name, value] : _codecOptions) options.set(name, value);
    d.set("Options", std::move(options));
    if (_kind == ZVCodecSettingsKind::video) {
        d.set("CodecType", _codecType);
        d.set("FrameRate", static_cast<int64_t>(_frameRate));
        d.set("KeyFrameInterval", static_cast<int64_t>(_keyFrameInterval));
        d.set("Quality", static_cast<int64_t>(_quality));
        d.set("BitRate", _bitRate);
    } else {
        const ZVAudioStreamDescription& a = _outputDescription;
        ZVValue out = ZVValue::dict();
        out.set("SampleRate", a.sampleRate);
        out.set("FormatID", a.formatID);
        out.set("FormatFlags", a.formatFlags);
        out.set("BytesPerPacket", a.bytesPerPacket);
        out.set("FramesPerPacket", a.framesPerPacket);
        out.set("BytesPerFrame", a.bytesPerFrame);
        out.set("ChannelsPerFrame", a.channelsPerFrame);
        out.set("BitsPerChannel", a.bitsPerChannel);
        d.set("Output", std::move(out));
        d.set("ChannelLayoutTag", _channelLayoutTag);
        d.set("RenderQuality", _renderQuality);
        d.set("BitRate", _bitRate);
        d.set("MagicCookie", ZVValue::Data(_magicCookie));
    }
    return d.toBinaryPropertyList();
}

long ZVCodecSettings::load(const uint8_t* bytes, size_t size) {
    if (bytes == nullptr || size == 0) {
        resetToDefaults();
        _loadStatus = kZVMediaNoErr;
        _loadError.clear();
        return kZVMediaNoErr;
    }
    auto refuse = [this](const std::string& why) {
        _loadStatus = kZVMediaErrBadSettings;
        _loadError = std::string("Codec settings are damaged: ") + why;
        return _loadStatus;
    };
    auto parsed = ZVReadBinaryPropertyList(bytes, size);
    if (!parsed) return refuse("not a binary property list");
    if (!parsed->isDict()) return refuse("not a dictionary");
    const ZVValue& d = *parsed;
    const ZVValue* format = d.get("Format");
    if (!format || format->stringValue() != kFormatName) return refuse("no settings container");
    Reader r(d);
    auto version = r.integer(d, "Version", 1, INT32_MAX, true);
    if (!r.ok()) return refuse(r.problem);
    if (*version > kVersion)
        return refuse("version " + std::to_string(*version) + " is newer than this program reads");
    const ZVValue* kind = d.get("Kind");
    if (!kind || kind->stringValue() != kindName(_kind))
        return refuse(std::string("these are not ") + kindName(_kind) + " settings");

    std::map<std::string, std::string> options;
    if (const ZVValue* o = d.get("Options")) {
        const ZVValue::Dict* items = o->dictItems();
        if (!items) return refuse("\"Options\" is not a dictionary");
        if (items->size() > kMaxOptions) return refuse("too many codec options");
        for (const auto& [name, value] : *items) {
            if (value.kind() != ZVValue::Kind::String) return refuse("codec option is no text");
            std::string s = value.stringValue();
            if (name.empty() || name.size() > kMaxOptionLength || s.size() > kMaxOptionLength)
                return refuse("codec option of bad length");
            if (!isUTF8(name) || !isUTF8(s)) return refuse("codec option is not UTF-8 text");
            options[name] = s;
        }
    }

    if (_kind == ZVCodecSettingsKind::video) {
        auto codec = r.integer(d, "CodecType", 0, UINT32_MAX, true);
        auto rate = r.integer(d, "FrameRate", 0, 1000 * 65536, true);
        auto keys = r.integer(d, "KeyFrameInterval", 0, INT32_MAX, false);
        auto quality = r.integer(d, "Quality", kZVCodecMinQuality, kZVCodecLosslessQuality, false);
        auto bitRate = r.integer(d, "BitRate", 0, INT64_MAX, false);
        if (!r.ok()) return refuse(r.problem);
        uint32_t type = static_cast<uint32_t>(*codec);
        if (!isKnownVideoCodec(type))
            return refuse("unknown codec '" + ZVStringFromFourCC(type) + "'");
        _codecType = type;
        _frameRate = static_cast<int32_t>(*rate);
        _keyFrameInterval = static_cast<int32_t>(keys.value_or(0));
        _quality = static_cast<int32_t>(quality.value_or(kZVCodecNormalQuality));
        _bitRate = bitRate.value_or(0);
    } else {
        const ZVValue* out = d.get("Output");
        if (!out || !out->isDict()) return refuse("\"Output\" is missing or not a dictionary");
        ZVAudioStreamDescription a;
        auto rate = r.real(*out, "SampleRate", 1000, 768000);
        auto id = r.integer(*out, "FormatID", 0, UINT32_MAX, true);
        auto flags = r.integer(*out, "FormatFlags", 0, UINT32_MAX, true);
        auto bpp = r.integer(*out, "BytesPerPacket", 0, 1 << 20, true);
        auto fpp = r.integer(*out, "FramesPerPacket", 0, 1 << 20, true);
        auto bpf = r.integer(*out, "BytesPerFrame", 0, 1 << 10, true);
        auto channels = r.integer(*out, "ChannelsPerFrame", 1, 8, true);
        auto bits = r.integer(*out, "BitsPerChannel", 0, 64, true);
        auto layout = r.integer(d, "ChannelLayoutTag", 0, UINT32_MAX, false);
        auto render = r.integer(d, "RenderQuality", 0, 127, false);
        auto bitRate = r.integer(d, "BitRate", 0, INT32_MAX, false);
        if (!r.ok()) return refuse(r.problem);
        a.sampleRate = *rate;
        a.formatID = static_cast<uint32_t>(*id);
        a.formatFlags = static_cast<uint32_t>(*flags);
        a.bytesPerPacket = static_cast<uint32_t>(*bpp);
        a.framesPerPacket = static_cast<uint32_t>(*fpp);
        a.bytesPerFrame = static_cast<uint32_t>(*bpf);
        a.channelsPerFrame = static_cast<uint32_t>(*channels);
        a.bitsPerChannel = static_cast<uint32_t>(*bits);
        if (!isKnownSoundFormat(a.formatID))
            return refuse("unknown sound format '" + ZVStringFromFourCC(a.formatID) + "'");
        std::vector<uint8_t> cookie;
        if (const ZVValue* c = d.get("MagicCookie")) {
            if (!c->data()) return refuse("\"MagicCookie\" is not data");
            if (c->data()->size() > kMaxCookie) return refuse("\"MagicCookie\" is too large");
            cookie = *c->data();
        }
        _outputDescription = a;
        _channelLayoutTag = static_cast<uint32_t>(layout.value_or(0));
        _renderQuality = static_cast<uint32_t>(render.value_or(64));
        _bitRate = bitRate.value_or(0);
        _magicCookie = std::move(cookie);
    }
    _codecOptions = std::move(options);
    _loadStatus = kZVMediaNoErr;
    _loadError.clear();
    return kZVMediaNoErr;
}

long ZVCodecSettings::copyCompressionSessionOptions(ZVCompressionSessionOptions& options) const {
    if (_loadStatus != kZVMediaNoErr) return _loadStatus;
    if (_kind != ZVCodecSettingsKind::video) return kZVMediaErrParam;
    ZVCompressionSessionOptions o;
    o.setMaxKeyFrameInterval(_keyFrameInterval);
    o.setProperty(kZVCompressionSessionOptionsPropertyClass,
                  kZVCompressionSessionOptionsPropertyID_Quality, &_quality, sizeof _quality);
    o.setProperty(kZVCompressionSessionOptionsPropertyClass,
                  kZVCompressionSessionOptionsPropertyID_AverageDataRate, &_bitRate,
                  sizeof _bitRate);
    for (const auto& [name, value] : _codecOptions) o.setCodecOption(name, value);
    options = std::move(o);
    return kZVMediaNoErr;
}
