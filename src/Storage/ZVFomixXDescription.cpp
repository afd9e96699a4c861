#include "Storage/ZVFomixXDescription.h"

#include <sys/stat.h>

#include <algorithm>
#include <cinttypes>
#include <filesystem>
#include <set>

#include "Foundation/ZVLog.h"
#include "Foundation/ZVValue.h"
#include "Storage/ZVCursorListFile.h"
#include "Storage/ZVFomixXManager.h"
#include "Storage/ZVMovieFileCheck.h"

namespace {

// A file's size in words, or why it has none.
std::string sizeOf(const std::string& path) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return "missing";
    if (S_ISDIR(st.st_mode)) return "a directory";
    return ZVFormat("%" PRIu64 " bytes", static_cast<uint64_t>(st.st_size));
}

bool isTrackKey(const std::string& key) {
    return key == ZVFomixXManager::kNameKey || key == ZVFomixXManager::kTypeKey ||
           key == ZVFomixXManager::kPathKey;
}

}  // namespace

std::string ZVDescribeValue(const ZVValue& value) {
    switch (value.kind()) {
        case ZVValue::Kind::Null:
            return "(none)";
        case ZVValue::Kind::Bool:
            return value.boolValue() ? "yes" : "no";
        case ZVValue::Kind::Integer:
            return ZVFormat("%" PRId64, value.intValue());
        case ZVValue::Kind::Real:
            return ZVFormat("%.17g", value.doubleValue());
        case ZVValue::Kind::String:
            return "\"" + value.stringValue() + "\"";
        case ZVValue::Kind::Data:
            return ZVFormat("<%zu bytes>", value.data()->size());
        case ZVValue::Kind::Date:
            return ZVFormat("<date %.3f>", value.date()->secondsSince2001);
        case ZVValue::Kind::Array: {
            std::string out = "[";
            for (const auto& item : *value.arrayItems()) {
                if (out.size() > 1) out += ", ";
                out += ZVDescribeValue(item);
            }
            return out + "]";
        }
        case ZVValue::Kind::Dict: {
            std::string out = "{";
            for (const auto& [key, item] : *value.dictItems()) {
                if (out.size() > 1) out += "; ";
                out += key + " = " + ZVDescribeValue(item);
            }
            return out + "}";
        }
    }
    return "(none)";
}

std::string ZVDescribeFomixX(const ZVFomixXManager& recording) {
    std::string out;
    const std::string& path = recording.path();
    out += "recording: " + path + "\n";
    if (!recording.isPackage()) {
        out += "kind: plain capture file\n";
        out += std::string("exists: ") + (recording.exists() ? "yes" : "no") + "\n";
        if (recording.exists()) out += ZVFormat("size: %" PRIu64 " bytes\n", recording.fileSize());
        const ZVValue* movie = recording.infoDictionary().get(ZVFomixXManager::kPlainMovieKey);
        if (movie) out += "movie: " + movie->stringValue() + "\n";
        return out;
    }

    const ZVValue& info = recording.infoDictionary();
    std::string kind = "package";
    if (recording.isEarlierLayout()) {
        kind += " (earlier layout)";
    } else if (const ZVValue* version = info.get(ZVFomixXManager::kVersionKey)) {
        kind += " (version " + version->stringValue() + ")";
    }
    out += "kind: " + kind + "\n";
    out += std::string("exists: ") + (recording.exists() ? "yes" : "no") + "\n";
    if (!recording.exists()) return out;
    out += ZVFormat("size: %" PRIu64 " bytes without movies\n", recording.fileSize());
    if (!recording.infoError().empty()) out += "Info.plist: " + recording.infoError() + "\n";

    std::set<std::string> listed{std::string(ZVFomixXManager::kInfoFileName),
                                 std::string(ZVFomixXManager::kMovieFileName)};
    auto tracks = recording.tracks();
    out += ZVFormat("tracks: %zu\n", tracks.size());
    for (const auto& track : tracks) {
        if (!track.isDict()) {
            out += "  (not a track: " + ZVDescribeValue(track) + ")\n";
            continue;
        }
        std::string type = track.get(ZVFomixXManager::kTypeKey)
                               ? track.get(ZVFomixXManager::kTypeKey)->stringValue("?")
                               : "?";
        std::string name = track.get(ZVFomixXManager::kNameKey)
                               ? track.get(ZVFomixXManager::kNameKey)->stringValue("?")
                               : "?";
        std::string file = track.get(ZVFomixXManager::kPathKey)
                               ? track.get(ZVFomixXManager::kPathKey)->stringValue()
                               : std::string();
        out += "  " + type + " \"" + name + "\": ";
        if (file.empty()) {
            out += "no file\n";
        } else {
            listed.insert(file);
            std::string size = sizeOf(path + "/" + file);
            out += file + ", " + size;
            // The cursor list is ours to read; how many images it holds is worth a glance.
            if (type == ZVFomixXManager::typeForResource(ZVFomixXResourceCursors) &&
                size != "missing") {
                std::string error;
                auto cursors = ZVCursorListFile::read(path + "/" + file, &error);
                out += cursors ? ZVFormat(", %zu cursor images", cursors->size())
                               : ", unreadable: " + error;
            }
            out += "\n";
        }
        for (const auto& [key, value] : *track.dictItems())
            if (!isTrackKey(key)) out += "    " + key + " = " + ZVDescribeValue(value) + "\n";
    }

    std::string movie = path + "/" + std::string(ZVFomixXManager::kMovieFileName);
    struct stat st;
    std::string problem = ::stat(movie.c_str(), &st) == 0 ? ZVMovieFileProblem(movie) : "";
    out += "movie: " + movie +
           (::stat(movie.c_str(), &st) != 0 ? " (not there)"
            : problem.empty()               ? ""
                                            : " (not a whole movie: " + problem + ")") +
           "\n";

    std::vector<std::string> stray;
    std::error_code ec;
    for (std::filesystem::directory_iterator it(path, ec), end; !ec && it != end;
         it.increment(ec)) {
        std::string entry = it->path().filename().string();
        if (!listed.count(entry)) stray.push_back(entry);
    }
    std::sort(stray.begin(), stray.end());
    if (!stray.empty()) {
        out += "files not listed:";
        for (const auto& s : stray) out += " " + s;
        out += "\n";
    }
    for (const auto& [key, value] : info.dictItems() ? *info.dictItems() : ZVValue::Dict{})
        if (key != ZVFomixXManager::kVersionKey && key != ZVFomixXManager::kTracksKey)
            out += "property " + key + " = " + ZVDescribeValue(value) + "\n";
    return out;
}
