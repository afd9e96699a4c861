#pragma once
// The export settings: which tracks a movie gets, how its picture is sized, which
// overlays are drawn, and the video and sound codec settings (opaque ZVCodecSettings
// containers). A value object without a lock: each stage keeps its own copy.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Foundation/ZVGeometry.h"
#include "Foundation/ZVValue.h"

// The bytes of a codec settings container as they travel between the preset, the dialogs
// and the consumers; whoever receives one owns it.
using ZVSettingsHandle = std::vector<uint8_t>;

// An output picture size in whole pixels.
struct ZVOutputSize {
    int32_t width = 0;
    int32_t height = 0;
    bool operator==(const ZVOutputSize&) const = default;
};

class ZVEncodingPreset {
  public:
    // A preset with the defaults: everything included and shown, scale 100 % (mode 0), no
    // dimensions, empty codec settings. Any thread.
    static std::shared_ptr<ZVEncodingPreset> initWithName(const std::string& name);
    static std::shared_ptr<ZVEncodingPreset> presetWithName(const std::string& name);
    // From the dictionary form; nullptr (and nothing logged) when a required key is
    // missing, "Size" cannot be read or a camera key is refused (cameraProblem). Values are read
    // leniently. Any thread.
    static std::shared_ptr<ZVEncodingPreset> initWithDictRepresentation(const ZVValue& dict);
    static std::shared_ptr<ZVEncodingPreset> presetWithDictRepresentation(const ZVValue& dict);
    // From a preset file (a property list of the dictionary form); nullptr with one line in
    // `error` that names the file and what is wrong. Any thread.
    static std::shared_ptr<ZVEncodingPreset> readFile(const std::string& path, std::string& error);

    // The fifteen keys, from the current fields.
    ZVValue dictRepresentation() const;
    // A deep copy made through the dictionary form.
    std::shared_ptr<ZVEncodingPreset> copy() const;
    bool operator==(const ZVEncodingPreset&) const = default;

    void setName(const std::string& name) { _name = name; }
    const std::string& name() const { return _name; }

    // The setters copy the handle's bytes (none empties the block); the getters give a new
    // copy, or none when the block is empty.
    void setSoundSettings(const std::optional<ZVSettingsHandle>& handle);
    std::optional<ZVSettingsHandle> soundSettings() const;
    void setVideoSettings(const std::optional<ZVSettingsHandle>& handle);
    std::optional<ZVSettingsHandle> videoSettings() const;

    void setVideoDimensions(ZVSize size) { _videoDimensions = size; }
    ZVSize videoDimensions() const { return _videoDimensions; }
    void setVideoScale(double percent) { _videoScale = percent; }
    double videoScale() const { return _videoScale; }
    void setVideoScaleMode(int32_t mode) { _videoScaleMode = mode; }
    int32_t videoScaleMode() const { return _videoScaleMode; }

    void setIncludesAudioTrack(bool v) { _includeAudioTrack = v; }
    bool includesAudioTrack() const { return _includeAudioTrack; }
    void setIncludesVideoTrack(bool v) { _includeVideoTrack = v; }
    bool includesVideoTrack() const { return _includeVideoTrack; }
    void setIncludesCursorTrack(bool v) { _includeCursorTrack = v; }
    bool includesCursorTrack() const { return _includeCursorTrack; }
    void setShowsMouseClicks(bool v) { _showMouseClicks = v; }
    bool showsMouseClicks() const { return _showMouseClicks; }
    void setShowsKeysPressed(bool v) { _showKeysPressed = v; }
    bool showsKeysPressed() const { return _showKeysPressed; }
    // The movie's own text, made when keys are shown: the key strip's text as a text
    // track players can switch on and off, and a chapter at every click and shortcut.
    void setIncludesKeyTrack(bool v) { _includeKeyTrack = v; }
    bool includesKeyTrack() const { return _includeKeyTrack; }
    void setIncludesChapters(bool v) { _includeChapters = v; }
    bool includesChapters() const { return _includeChapters; }
    void setIncludesSystemAudio(bool v) { _includeSystemAudio = v; }
    bool includesSystemAudio() const { return _includeSystemAudio; }
    void setIncludesExternalAudio(bool v) { _includeExternalAudio = v; }
    bool includesExternalAudio() const { return _includeExternalAudio; }

    // The export camera and the cursor. Each key may be left out (the default then holds):
    // "Zoom" "auto" or "off" (default), "ZoomLevel" 1.25 to 4 (2), "ZoomHold" seconds
    // 0 to 60 (1.5), "CursorSmoothing" seconds 0 (none) to 1 (0.06), "CursorScale" 0.5 to
    // 4 (1), "HideIdleCursor" seconds 0 (never) to 3600. A value out of range or of
    // another kind is refused (cameraProblem).
    static constexpr double kDefaultZoomLevel = 2.0;
    static constexpr double kDefaultZoomHold = 1.5;
    static constexpr double kDefaultCursorSmoothing = 0.06;
    void setZoomsAutomatically(bool v) { _zoomAuto = v; }
    bool zoomsAutomatically() const { return _zoomAuto; }
    void setZoomLevel(double v) { _zoomLevel = v; }
    double zoomLevel() const { return _zoomLevel; }
    void setZoomHold(double seconds) { _zoomHold = seconds; }
    double zoomHold() const { return _zoomHold; }
    void setCursorSmoothing(double seconds) { _cursorSmoothing = seconds; }
    double cursorSmoothing() const { return _cursorSmoothing; }
    void setCursorScale(double v) { _cursorScale = v; }
    double cursorScale() const { return _cursorScale; }
    void setHideIdleCursor(double seconds) { _hideIdleCursor = seconds; }
    double hideIdleCursor() const { return _hideIdleCursor; }
    // What is wrong with the camera's keys of `dict`, as "\"Key\" must be ...": empty when
    // nothing is. Any thread.
    static std::string cameraProblem(const ZVValue& dict);

    // The output picture size for a recording of `recorded` size: mode 0 scales by
    // videoScale percent, mode 1 (and any other) takes videoDimensions; each side truncated
    // toward zero, 0 when not a finite positive number.
    ZVOutputSize outputSizeForRecordedSize(ZVSize recorded) const;

    // The codec dialogs of the installed ZVSettingsDialog, starting from `settings` (none:
    // the defaults). New settings on OK; none on cancel, and none after a log line on an
    // error. Thread: wherever the dialog may run (the terminal one: any).
    static std::optional<ZVSettingsHandle> requestUserSettingsForVideo(
        const std::optional<ZVSettingsHandle>& settings);
    static std::optional<ZVSettingsHandle> requestUserSettingsForAudio(
        const std::optional<ZVSettingsHandle>& settings);

    // "Size" as stored: 12 bytes, "ZVsz" then width and height as big-endian IEEE floats.
    static ZVValue::Data encodeSize(ZVSize size);
    static std::optional<ZVSize> decodeSize(const ZVValue::Data& data);

  private:
    std::string _name;
    ZVSettingsHandle _soundSettings;
    ZVSettingsHandle _videoSetting;
    ZVSize _videoDimensions;
    double _videoScale = 100.0;
    int32_t _videoScaleMode = 0;
    bool _includeAudioTrack = true;
    bool _includeVideoTrack = true;
    bool _includeCursorTrack = true;
    bool _showMouseClicks = true;
    bool _showKeysPressed = true;
    bool _includeKeyTrack = true;
    bool _includeChapters = true;
    bool _includeSystemAudio = true;
    bool _includeExternalAudio = true;
    // The export camera and the cursor.
    bool _zoomAuto = false;
    double _zoomLevel = kDefaultZoomLevel;
    double _zoomHold = kDefaultZoomHold;
    double _cursorSmoothing = kDefaultCursorSmoothing;
    double _cursorScale = 1.0;
    double _hideIdleCursor = 0;
};
