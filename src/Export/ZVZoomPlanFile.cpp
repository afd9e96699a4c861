#include "Export/ZVZoomPlanFile.h"

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <system_error>
#include <tuple>

#include "Foundation/ZVLog.h"

namespace {
// "{x, y}" with any spaces around its parts; nullopt for anything else.
std::optional<ZVPoint> pointFromString(const std::string& text) {
    const char* p = text.data();
    const char* end = p + text.size();
    auto skip = [&] {
        while (p < end && *p == ' ') ++p;
    };
    auto expect = [&](char c) {
        skip();
        return p < end && *p++ == c;
    };
    auto number = [&](double& v) {
        skip();
        auto [next, ec] = std::from_chars(p, end, v);
        p = next;
        return ec == std::errc();
    };
    double x, y;
    if (!expect('{') || !number(x) || !expect(',') || !number(y) || !expect('}')) return {};
    skip();
    if (p != end) return {};
    return ZVPoint{float(x), float(y)};
}

// libplist writes reals with 17 digits (2.9830000000000001): a person reads the shortest
// form that reads back as the same number.
std::string shortReals(std::string xml) {
    constexpr std::string_view open = "<real>", close = "</real>";
    for (size_t at = xml.find(open); at != std::string::npos; at = xml.find(open, at)) {
        at += open.size();
        const size_t end = xml.find(close, at);
        double v;
        char text[32];
        if (end == std::string::npos || std::from_chars(&xml[at], &xml[end], v).ec != std::errc())
            continue;
        const auto written = std::to_chars(text, text + sizeof text, v);
        xml.replace(at, end - at, text, size_t(written.ptr - text));
    }
    return xml;
}

std::optional<double> number(const ZVValue* v) {
    if (!v || (v->kind() != ZVValue::Kind::Integer && v->kind() != ZVValue::Kind::Real))
        return std::nullopt;
    return v->doubleValue();
}

// The segments of a plan's property list; nullopt with *error saying what is wrong.
std::optional<std::vector<ZVZoomSegment>> segmentsOf(const ZVValue& plan, std::string& error) {
    const ZVValue* list = plan.get(ZVZoomPlanFile::kSegmentsKey);
    if (!list || !list->isArray()) {
        error = "no \"Segments\" list of zoom segments";
        return std::nullopt;
    }
    std::vector<ZVZoomSegment> segments;
    for (const ZVValue& item : *list->arrayItems()) {
        const std::string name = ZVFormat("segment %zu: ", segments.size() + 1);
        ZVZoomSegment s;
        // "Level" may be left out; a segment that is no dictionary has no "Start".
        for (auto [key, to, needed] : {std::tuple{ZVZoomPlanFile::kStartKey, &s.start, true},
                                       {ZVZoomPlanFile::kEndKey, &s.end, true},
                                       {ZVZoomPlanFile::kLevelKey, &s.level, false}}) {
            const ZVValue* v = item.get(key);
            if (!v && !needed) continue;
            if (!number(v)) {
                error = name + "\"" + std::string(key) + "\" is missing or not a number";
                return std::nullopt;
            }
            *to = *number(v);
        }
        const ZVValue* centre = item.get(ZVZoomPlanFile::kCentreKey);
        if (centre && centre->stringValue() != ZVZoomPlanFile::kFollow) {
            s.centre = pointFromString(centre->stringValue());
            if (!s.centre) {
                error = name + "\"Centre\" is neither a point {x, y} nor \"follow\"";
                return std::nullopt;
            }
        }
        segments.push_back(s);
    }
    return segments;
}

// The plan a property list describes for `input`; nullopt with why it cannot be one.
std::optional<ZVZoomPlan> planOf(const ZVValue& plan, const ZVRecordedInput& input,
                                 const ZVZoomOptions& options, std::string& why) {
    why.clear();
    auto segments = segmentsOf(plan, why);
    if (segments) why = ZVZoomPlan::problem(*segments, input.size(), input.duration());
    if (!why.empty()) return std::nullopt;
    return ZVZoomPlan(std::move(*segments), input, options);
}
}  // namespace

std::string ZVZoomPlanFile::defaultPath(const std::string& recording) {
    std::filesystem::path path(recording);
    // "talk.fomixx/" names the package as well as "talk.fomixx".
    if (!path.has_filename()) path = path.parent_path();
    return path.replace_extension(".zoom.plist").string();
}

ZVValue ZVZoomPlanFile::toPropertyList(const ZVZoomPlan& plan) {
    ZVValue list = ZVValue::array();
    for (const ZVZoomSegment& s : plan.segments()) {
        ZVValue item = ZVValue::dict();
        item.set(kStartKey, s.start);
        item.set(kEndKey, s.end);
        item.set(kLevelKey, s.level);
        item.set(kCentreKey, s.centre ? ZVStringFromPoint(*s.centre) : std::string(kFollow));
        list.append(std::move(item));
    }
    ZVValue root = ZVValue::dict();
    root.set(kSegmentsKey, std::move(list));
    return root;
}

bool ZVZoomPlanFile::write(const std::string& path, const ZVZoomPlan& plan, std::string* error) {
    const std::string text = shortReals(toPropertyList(plan).toXMLPropertyList());
    // Written beside and renamed into place, so a plan is never left half written.
    const std::string temporary = path + ".tmp";
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out << text;
    out.close();
    if (out && std::rename(temporary.c_str(), path.c_str()) == 0) return true;
    const int why = errno;
    std::remove(temporary.c_str());
    if (error) *error = path + ": " + std::strerror(why);
    return false;
}

std::optional<ZVZoomPlan> ZVZoomPlanFile::fromBytes(const void* bytes, size_t length,
                                                    const ZVRecordedInput& input,
                                                    const ZVZoomOptions& options,
                                                    std::string* error) {
    std::string why = "not a property list";
    auto plan = ZVValue::fromPropertyList(bytes, length);
    auto result = plan ? planOf(*plan, input, options, why) : std::nullopt;
    if (!result && error) *error = why;
    return result;
}

std::optional<ZVZoomPlan> ZVZoomPlanFile::read(const std::string& path,
                                               const ZVRecordedInput& input,
                                               const ZVZoomOptions& options, std::string* error) {
    std::string why;
    std::error_code ec;
    const auto size = std::filesystem::file_size(path, ec);
    std::optional<ZVValue> plan;
    if (ec)
        why = path + ": " + ec.message();
    else if (size > kMaxFileSize)
        why = path + ": too large for a zoom plan";
    else
        plan = ZVValue::readFile(path, &why);  // its line names the file
    auto result = plan ? planOf(*plan, input, options, why) : std::nullopt;
    if (plan && !result) why = path + ": " + why;
    if (!result && error) *error = why;
    return result;
}
