#include "Media/ZVEncodingPreset.h"

#include <cmath>
#include <cstring>
#include <limits>

#include "Foundation/ZVLog.h"
#include "Media/ZVCodecSettings.h"
#include "Media/ZVSettingsDialog.h"

namespace {
const char kSizeMagic[4] = {'Z', 'V', 's', 'z'};

void putFloat(ZVValue::Data& out, float f) {
    uint32_t bits = 0;
    std::memcpy(&bits, &f, 4);
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(bits >> shift));
}

float getFloat(const uint8_t* p) {
    uint32_t bits = (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
    float f = 0;
    std::memcpy(&f, &bits, 4);
    return f;
}

// Truncated toward zero; 0 for anything that is not a finite positive number.
int32_t truncatedSide(double v) {
    if (!(v > 0) || !std::isfinite(v)) return 0;
    if (v >= std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
    return static_cast<int32_t>(v);
}

// The preference flags and restriction are the dialog's starting point; the settings
// carry the user's choice back.
// The export camera's keys: where each is kept and the values it takes.
struct CameraNumber {
    const char* key;
    double low, high;
    const char* unit;
};
constexpr CameraNumber kCameraNumbers[] = {
    {"ZoomLevel", 1.25, 4, ""},
    {"ZoomHold", 0, 60, " seconds"},
    {"CursorSmoothing", 0, 1, " seconds"},
    {"CursorScale", 0.5, 4, ""},
    {"HideIdleCursor", 0, 3600, " seconds"},
};
constexpr const char* kZoomKey = "Zoom";

std::optional<ZVSettingsHandle> runDialog(ZVCodecSettingsKind kind,
                                          const std::optional<ZVSettingsHandle>& handle,
                                          bool logFailure) {
    ZVCodecSettings settings(kind);
    if (handle) settings.load(*handle);
    if (kind == ZVCodecSettingsKind::video)
        settings.setPreferenceFlags(kZVVideoSettingsPreferenceFlags);
    long result = ZVSettingsDialog::shared()->requestSettings(settings);
    if (result == kZVDialogOK) return settings.save();
    if (result != kZVDialogCancel && logFailure)
        ZVLog("SCRequestSequenceSettings() failed with error: %ld", result);
    return std::nullopt;
}
}  // namespace

std::shared_ptr<ZVEncodingPreset> ZVEncodingPreset::initWithName(const std::string& name) {
    auto p = std::make_shared<ZVEncodingPreset>();
    p->_name = name;
    return p;
}

std::shared_ptr<ZVEncodingPreset> ZVEncodingPreset::presetWithName(const std::string& name) {
    return initWithName(name);
}

std::shared_ptr<ZVEncodingPreset> ZVEncodingPreset::initWithDictRepresentation(
    const ZVValue& dict) {
    static const char* required[] = {"Name",         "SoundSettings", "VideoSettings",
                                     "IncludeAudio", "IncludeVideo",  "IncludeCursor",
                                     "Scale",        "ScaleMode",     "Size"};
    for (const char* key : required)
        if (!dict.get(key)) return nullptr;
    auto size = dict.get("Size")->data() ? decodeSize(*dict.get("Size")->data()) : std::nullopt;
    if (!size) return nullptr;
    auto optionalFlag = [&](const char* key) {
        const ZVValue* v = dict.get(key);
        return v ? v->boolValue(true) : true;
    };
    auto bytes = [&](const char* key) {
        const ZVValue::Data* d = dict.get(key)->data();
        return d ? *d : ZVValue::Data{};
    };
    auto p = std::make_shared<ZVEncodingPreset>();
    p->_name = dict.get("Name")->stringValue();
    p->_soundSettings = bytes("SoundSettings");
    p->_videoSetting = bytes("VideoSettings");
    p->_includeAudioTrack = dict.get("IncludeAudio")->boolValue();
    p->_includeVideoTrack = dict.get("IncludeVideo")->boolValue();
    p->_includeCursorTrack = dict.get("IncludeCursor")->boolValue();
    p->_showMouseClicks = optionalFlag("ShowMouseClicks");
    p->_showKeysPressed = optionalFlag("ShowKeysPressed");
    p->_includeKeyTrack = optionalFlag("IncludeKeyTrack");
    p->_includeChapters = optionalFlag("IncludeChapters");
    p->_includeSystemAudio = optionalFlag("IncludeSystemAudio");
    p->_includeExternalAudio = optionalFlag("IncludeExternalAudio");
    p->_videoScale = dict.get("Scale")->doubleValue();
    int64_t mode = dict.get("ScaleMode")->intValue();
    p->_videoScaleMode = static_cast<int32_t>(static_cast<uint32_t>(mode));  // 32 bits, as kept
    p->_videoDimensions = *size;
    if (!cameraProblem(dict).empty()) return nullptr;
    if (const ZVValue* zoom = dict.get(kZoomKey)) p->_zoomAuto = zoom->stringValue() == "auto";
    auto number = [&](const char* key, double fallback) {
        const ZVValue* v = dict.get(key);
        return v ? v->doubleValue() : fallback;
    };
    p->_zoomLevel = number("ZoomLevel", kDefaultZoomLevel);
    p->_zoomHold = number("ZoomHold", kDefaultZoomHold);
    p->_cursorSmoothing = number("CursorSmoothing", kDefaultCursorSmoothing);
    p->_cursorScale = number("CursorScale", 1.0);
    p->_hideIdleCursor = number("HideIdleCursor", 0);
    return p;
}

std::string ZVEncodingPreset::cameraProblem(const ZVValue& dict) {
    if (const ZVValue* zoom = dict.get(kZoomKey)) {
        const std::string text = zoom->stringValue();
        if (text != "auto" && text != "off")
            return std::string("\"") + kZoomKey + "\" must be \"auto\" or \"off\"";
    }
    for (const CameraNumber& n : kCameraNumbers) {
        const ZVValue* v = dict.get(n.key);
        if (!v) continue;
        const bool number = v->kind() == ZVValue::Kind::Real || v->kind() == ZVValue::Kind::Integer;
        const double d = number ? v->doubleValue() : 0;
        if (!number || !(d >= n.low && d <= n.high))
            return ZVFormat("\"%s\" must be a number from %g to %g%s", n.key, n.low, n.high,
                            n.unit);
    }
    return {};
}

std::shared_ptr<ZVEncodingPreset> ZVEncodingPreset::readFile(const std::string& path,
                                                             std::string& error) {
    auto value = ZVValue::readFile(path, &error);
    if (!value) return nullptr;
    auto preset = initWithDictRepresentation(*value);
    if (std::string problem = cameraProblem(*value); !problem.empty())
        error = path + ": " + problem;
    else if (!preset)
        error = path + ": not a preset (a required key is missing or unreadable)";
    return preset;
}

std::shared_ptr<ZVEncodingPreset> ZVEncodingPreset::presetWithDictRepresentation(
    const ZVValue& dict) {
    return initWithDictRepresentation(dict);
}

ZVValue ZVEncodingPreset::dictRepresentation() const {
    ZVValue d = ZVValue::dict();
    d.set("Name", _name);
    d.set("SoundSettings", _soundSettings);
    d.set("VideoSettings", _videoSetting);
    d.set("IncludeAudio", _includeAudioTrack);
    d.set("IncludeVideo", _includeVideoTrack);
    d.set("IncludeCursor", _includeCursorTrack);
    d.set("ShowMouseClicks", _showMouseClicks);
    d.set("ShowKeysPressed", _showKeysPressed);
    d.set("IncludeKeyTrack", _includeKeyTrack);
    d.set("IncludeChapters", _includeChapters);
    d.set("IncludeSystemAudio", _includeSystemAudio);
    d.set("IncludeExternalAudio", _includeExternalAudio);
    d.set("Scale", _videoScale);
    d.set("ScaleMode", _videoScaleMode);
    d.set("Size", encodeSize(_videoDimensions));
    d.set(kZoomKey, _zoomAuto ? "auto" : "off");
    d.set("ZoomLevel", _zoomLevel);
    d.set("ZoomHold", _zoomHold);
    d.set("CursorSmoothing", _cursorSmoothing);
    d.set("CursorScale", _cursorScale);
    d.set("HideIdleCursor", _hideIdleCursor);
    return d;
}

std::shared_ptr<ZVEncodingPreset> ZVEncodingPreset::copy() const {
    return initWithDictRepresentation(dictRepresentation());
}

void ZVEncodingPreset::setSoundSettings(const std::optional<ZVSettingsHandle>& handle) {
    _soundSettings = handle ? *handle : ZVSettingsHandle{};
}

std::optional<ZVSettingsHandle> ZVEncodingPreset::soundSettings() const {
    if (_soundSettings.empty()) return std::nullopt;
    return _soundSettings;
}

void ZVEncodingPreset::setVideoSettings(const std::optional<ZVSettingsHandle>& handle) {
    _videoSetting = handle ? *handle : ZVSettingsHandle{};
}

std::optional<ZVSettingsHandle> ZVEncodingPreset::videoSettings() const {
    if (_videoSetting.empty()) return std::nullopt;
    return _videoSetting;
}

ZVOutputSize ZVEncodingPreset::outputSizeForRecordedSize(ZVSize recorded) const {
    if (_videoScaleMode == 0)
        return {truncatedSide(double{recorded.width} * _videoScale / 100.0),
                truncatedSide(double{recorded.height} * _videoScale / 100.0)};
    return {truncatedSide(_videoDimensions.width), truncatedSide(_videoDimensions.height)};
}

ZVValue::Data ZVEncodingPreset::encodeSize(ZVSize size) {
    ZVValue::Data out(kSizeMagic, kSizeMagic + 4);
    putFloat(out, size.width);
    putFloat(out, size.height);
    return out;
}

std::optional<ZVSize> ZVEncodingPreset::decodeSize(const ZVValue::Data& data) {
    if (data.size() != 12 || std::memcmp(data.data(), kSizeMagic, 4) != 0) return std::nullopt;
    return ZVSize{getFloat(data.data() + 4), getFloat(data.data() + 8)};
}

std::optional<ZVSettingsHandle> ZVEncodingPreset::requestUserSettingsForVideo(
    const std::optional<ZVSettingsHandle>& settings) {
    return runDialog(ZVCodecSettingsKind::video, settings, true);
}

std::optional<ZVSettingsHandle> ZVEncodingPreset::requestUserSettingsForAudio(
    const std::optional<ZVSettingsHandle>& settings) {
    return runDialog(ZVCodecSettingsKind::sound, settings, false);
}
