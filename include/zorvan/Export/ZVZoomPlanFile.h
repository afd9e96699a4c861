#pragma once
// The zoom plan as a file a person can read and change: an XML property list
// {"Segments": [{"Start": 1.25, "End": 4.5, "Level": 2, "Centre": "{640, 360}"}, ...]},
// times in seconds of recording time, the centre a point of the picture from its
// bottom-left, y up, or "follow" for a view that follows the pointer. "Level" may be left
// out (2). The same plan always writes the same bytes.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "Export/ZVRecordedInput.h"
#include "Export/ZVZoomPlan.h"
#include "Foundation/ZVValue.h"

class ZVZoomPlanFile {
  public:
    static constexpr std::string_view kSegmentsKey = "Segments";
    static constexpr std::string_view kStartKey = "Start";
    static constexpr std::string_view kEndKey = "End";
    static constexpr std::string_view kLevelKey = "Level";
    static constexpr std::string_view kCentreKey = "Centre";
    static constexpr std::string_view kFollow = "follow";
    // Larger files are refused unread: a plan holds a few segments a minute.
    static constexpr size_t kMaxFileSize = 16u << 20;

    ZVZoomPlanFile() = delete;

    // Where a recording's plan goes by default: beside it, named after it
    // ("talk.fomixx" -> "talk.zoom.plist"). Any thread.
    static std::string defaultPath(const std::string& recording);

    // Writes the plan's segments to `path` atomically. False with *error ("path: why").
    // Any thread.
    static bool write(const std::string& path, const ZVZoomPlan& plan, std::string* error);
    // Reads a plan for the recording `input` describes; nullopt with one line in *error
    // ("path: segment N: what is wrong", or "path: why" for a file that is no plan) when
    // the file does not parse or a segment does not fit the recording (ZVZoomPlan::problem).
    // Any thread.
    static std::optional<ZVZoomPlan> read(const std::string& path, const ZVRecordedInput& input,
                                          const ZVZoomOptions& options, std::string* error);

    // The same in memory; the errors name no file. Any thread.
    static ZVValue toPropertyList(const ZVZoomPlan& plan);
    static std::optional<ZVZoomPlan> fromBytes(const void* bytes, size_t length,
                                               const ZVRecordedInput& input,
                                               const ZVZoomOptions& options, std::string* error);
};
