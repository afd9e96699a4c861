#include "Storage/ZVFomixXManager.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "Foundation/ZVLog.h"
#include "Foundation/ZVTrash.h"

namespace fs = std::filesystem;

namespace {

// An Info.plist lists a handful of tracks; anything this large is not one, and reading it
// whole would only cost memory.
constexpr off_t kMaxInfoFileSize = 16 * 1024 * 1024;

// Path arithmetic on strings, as the package format spells it: the extension is what
// follows the last dot of the last component (a leading dot names a hidden file, not an
// extension), and trailing slashes are not part of the name.
std::string trimmed(const std::string& path) {
    std::string p = path;
    while (p.size() > 1 && p.back() == '/') p.pop_back();
    return p;
}

size_t extensionDot(const std::string& p) {
    size_t slash = p.rfind('/');
    size_t start = slash == std::string::npos ? 0 : slash + 1;
    size_t dot = p.rfind('.');
    if (dot == std::string::npos || dot <= start) return std::string::npos;
    return dot;
}

std::string pathExtension(const std::string& path) {
    std::string p = trimmed(path);
    size_t dot = extensionDot(p);
    return dot == std::string::npos ? std::string() : p.substr(dot + 1);
}

std::string deletingPathExtension(const std::string& path) {
    std::string p = trimmed(path);
    size_t dot = extensionDot(p);
    return dot == std::string::npos ? p : p.substr(0, dot);
}

std::string joinPath(const std::string& dir, std::string_view name) {
    std::string p = trimmed(dir);
    if (p.empty()) return std::string(name);
    if (p.back() != '/') p += '/';
    p += name;
    return p;
}

// Whether anything, even a dangling symbolic link, has this name: a fresh name must not
// move or write over it.
bool nameTaken(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
}

// The suffixes tried for a unique name: "", "-1", "-2", ... without an upper bound.
std::string suffix(unsigned counter) {
    return counter == 0 ? std::string() : ZVFormat("-%u", counter);
}

// The first "<base><suffix><tail>" that names nothing on disk.
std::string firstFreePath(const std::string& base, const std::string& tail) {
    for (unsigned counter = 0;; ++counter) {
        std::string candidate = base + suffix(counter) + tail;
        if (!nameTaken(candidate)) return candidate;
    }
}

ZVValue track(const char* name, const char* type, const char* path) {
    ZVValue t = ZVValue::dict();
    t.set(ZVFomixXManager::kNameKey, name);
    t.set(ZVFomixXManager::kTypeKey, type);
    t.set(ZVFomixXManager::kPathKey, path);
    return t;
}

// The track list of a package made before Info.plist listed its tracks.
ZVValue earlierLayoutTracks() {
    ZVValue::Array tracks;
    tracks.push_back(track("video1", "video", "frames"));
    tracks.push_back(track("cursors1", "cursors", "cursors"));
    return ZVValue(std::move(tracks));
}

// A track file must stay inside its package, whatever a damaged Info.plist says.
bool isPackageRelative(const std::string& path) {
    if (path.empty() || path.front() == '/') return false;
    for (const auto& component : fs::path(path))
        if (component == "..") return false;
    return true;
}

}  // namespace

std::string_view ZVFomixXManager::typeForResource(ZVFomixXResource kind) {
    switch (kind) {
        case ZVFomixXResourceVideo:
            return "video";
        case ZVFomixXResourceAudio:
            return "audio";
        case ZVFomixXResourceSystemAudio:
            return "systemaudio";
        case ZVFomixXResourceCursors:
            return "cursors";
        default:
            return {};
    }
}

std::string_view ZVFomixXManager::extensionForResource(ZVFomixXResource kind) {
    switch (kind) {
        case ZVFomixXResourceVideo:
            return "fomix";
        case ZVFomixXResourceAudio:
        case ZVFomixXResourceSystemAudio:
            return "wav";
        case ZVFomixXResourceCursors:
            return "dat";
        default:
            return {};
    }
}

std::shared_ptr<ZVFomixXManager> ZVFomixXManager::initWithFile(const std::string& path) {
    std::shared_ptr<ZVFomixXManager> m(new ZVFomixXManager);
    m->_filePath = path;
    struct stat st;
    if (::stat(path.c_str(), &st) == 0) {
        m->_exists = true;
        m->_package = S_ISDIR(st.st_mode);
    } else if (pathExtension(path) == kPackageExtension) {
        m->_package = true;
    }
    if (!m->_package) {
        std::string movie = firstFreePath(deletingPathExtension(path), ".mov");
        m->_infoDict.set(kPlainMovieKey, movie);
    } else if (m->_exists) {
        m->loadInfo();
    }
    return m;
}

std::string ZVFomixXManager::infoPath() const {
    return joinPath(_filePath, kInfoFileName);
}

void ZVFomixXManager::loadInfo() {
    _infoDict = ZVValue::dict();
    _earlierLayout = false;
    _infoError.clear();
    std::string info = infoPath();
    struct stat st;
    if (::stat(info.c_str(), &st) != 0) {
        if (errno == ENOENT) {
            _infoDict.set(kTracksKey, earlierLayoutTracks());
            _earlierLayout = true;
        } else {
            _infoError = info + ": " + std::strerror(errno);
        }
    } else if (!S_ISREG(st.st_mode)) {
        _infoError = info + ": not a regular file";
    } else if (st.st_size > kMaxInfoFileSize) {
        _infoError = info + ": too large for a package's track list";
    } else {
        std::string error;
        auto contents = ZVValue::readFile(info, &error);
        if (!contents) {
            _infoError = error;
        } else if (!contents->isDict()) {
            _infoError = info + ": not a dictionary";
        } else {
            _infoDict = std::move(*contents);
            const ZVValue* version = _infoDict.get(kVersionKey);
            if (!version || version->stringValue() != kCurrentVersion) {
                // Other keys of an earlier package stay as they are; only the track list
                // is the fixed one of that layout.
                _infoDict.set(kTracksKey, earlierLayoutTracks());
                _earlierLayout = true;
            } else if (!_infoDict.get(kTracksKey)) {
                _infoDict.set(kTracksKey, ZVValue::array());
            } else if (!_infoDict.get(kTracksKey)->isArray()) {
                _infoError = info + ": \"Tracks\" is not an array";
                _infoDict = ZVValue::dict();
            }
        }
    }
    if (!_infoError.empty())
        ZVLog("%s; the package's tracks are unavailable and its Info.plist is left as it is",
              _infoError.c_str());
}

bool ZVFomixXManager::writeInfo(std::string* why) {
    std::string error;
    if (_infoDict.writeFile(infoPath(), false, &error)) return true;
    ZVLog("ZVFomixXManager: cannot write the package's Info.plist: %s", error.c_str());
    if (why) *why = error;
    return false;
}

bool ZVFomixXManager::createFomixX(std::string* error) {
    if (_exists) {
        std::string base = deletingPathExtension(_filePath);
        _filePath = firstFreePath(base, "." + pathExtension(_filePath));
    }
    if (!_package) {
        _exists = true;
        return true;
    }
    _infoDict = ZVValue::dict();
    _infoDict.set(kVersionKey, kCurrentVersion);
    _infoDict.set(kTracksKey, ZVValue::array());
    _earlierLayout = false;
    _infoError.clear();
    std::error_code ec;
    const bool made = fs::create_directories(_filePath, ec);
    if (ec) {
        ZVLog("ZVFomixXManager: cannot create the package %s: %s", _filePath.c_str(),
              ec.message().c_str());
        if (error) *error = ec.message();
    }
    std::string why;
    if (!writeInfo(&why)) {
        // A package without its track list is no package: the directory made for it goes
        // again (a full disk would otherwise keep an empty one).
        if (made) fs::remove(_filePath, ec);
        // The writer names the file; the caller names the package.
        const std::string prefix = infoPath() + ": ";
        if (why.compare(0, prefix.size(), prefix) == 0) why.erase(0, prefix.size());
        if (error && error->empty()) *error = why;
        return false;
    }
    _exists = true;
    return true;
}

void ZVFomixXManager::removeFomixX(const ZVPlatformServices& services) {
    std::string error;
    if (!ZVMoveToTrash(services, _filePath, &error))
        ZVLog("ZVFomixXManager: cannot move the recording to the Trash: %s", error.c_str());
    _exists = false;
}

ZVValue::Array ZVFomixXManager::tracks() const {
    const ZVValue* list = _infoDict.get(kTracksKey);
    if (!list || !list->arrayItems()) return {};
    return *list->arrayItems();
}

int ZVFomixXManager::firstTrackIndex(ZVFomixXResource kind) const {
    std::string_view type = typeForResource(kind);
    const ZVValue* list = _infoDict.get(kTracksKey);
    if (type.empty() || !list || !list->arrayItems()) return -1;
    const auto& items = *list->arrayItems();
    for (size_t i = 0; i < items.size(); ++i) {
        const ZVValue* t = items[i].get(kTypeKey);
        if (t && t->kind() == ZVValue::Kind::String && t->stringValue() == type)
            return static_cast<int>(i);
    }
    return -1;
}

std::optional<std::string> ZVFomixXManager::trackFilePath(const ZVValue& track) const {
    const ZVValue* name = track.get(kPathKey);
    if (!name || name->kind() != ZVValue::Kind::String) return std::nullopt;
    std::string relative = name->stringValue();
    if (!isPackageRelative(relative)) return std::nullopt;
    return joinPath(_filePath, relative);
}

std::optional<std::string> ZVFomixXManager::createPathForPackageResource(ZVFomixXResource kind) {
    if (!_exists || !_package) return std::nullopt;
    if (kind == ZVFomixXResourceMovie) return joinPath(_filePath, kMovieFileName);
    std::string type(typeForResource(kind));
    if (type.empty() || !_infoError.empty()) return std::nullopt;

    std::vector<std::string> names;
    for (const auto& t : tracks()) {
        const ZVValue* tt = t.get(kTypeKey);
        const ZVValue* tn = t.get(kNameKey);
        if (tt && tn && tt->stringValue() == type) names.push_back(tn->stringValue());
    }
    std::string ext(extensionForResource(kind));
    std::string name, file;
    for (unsigned counter = 0;; ++counter) {
        name = type + suffix(counter);
        file = name + "." + ext;
        // A stray file of that name is never written over, listed or not.
        if (nameTaken(joinPath(_filePath, file))) continue;
        if (std::find(names.begin(), names.end(), name) == names.end()) break;
    }

    ZVValue entry = ZVValue::dict();
    entry.set(kNameKey, name);
    entry.set(kPathKey, file);
    entry.set(kTypeKey, type);
    ZVValue* list = _infoDict.get(kTracksKey);
    if (!list) list = &_infoDict.set(kTracksKey, ZVValue::array());
    list->append(std::move(entry));
    writeInfo();
    return joinPath(_filePath, file);
}

std::optional<std::string> ZVFomixXManager::pathForPackageResource(ZVFomixXResource kind) const {
    if (!_exists || !_package) return std::nullopt;
    if (kind == ZVFomixXResourceMovie) return joinPath(_filePath, kMovieFileName);
    int index = firstTrackIndex(kind);
    if (index < 0) return std::nullopt;
    return trackFilePath(tracks()[static_cast<size_t>(index)]);
}

std::optional<std::string> ZVFomixXManager::pathForResource(ZVFomixXResource kind) const {
    if (!_exists) return std::nullopt;
    if (_package) return pathForPackageResource(kind);
    if (kind == ZVFomixXResourceMovie) return _infoDict.get(kPlainMovieKey)->stringValue();
    if (kind == ZVFomixXResourceVideo) return _filePath;
    return std::nullopt;
}

std::optional<ZVValue> ZVFomixXManager::propertiesForResource(ZVFomixXResource kind) const {
    if (!_exists || !_package) return std::nullopt;
    int index = firstTrackIndex(kind);
    if (index < 0) return std::nullopt;
    return _infoDict.get(kTracksKey)->arrayItems()->at(static_cast<size_t>(index));
}

void ZVFomixXManager::setPropertie(const std::string& key, ZVValue value, ZVFomixXResource kind) {
    ZVValue one = ZVValue::dict();
    one.set(key, std::move(value));
    setProperties(one, kind);
}

void ZVFomixXManager::setProperties(const ZVValue& values, ZVFomixXResource kind) {
    if (!_exists || !_package || !values.dictItems() || values.dictItems()->empty()) return;
    int index = firstTrackIndex(kind);
    if (index < 0) return;
    ZVValue& t = _infoDict.get(kTracksKey)->arrayItems()->at(static_cast<size_t>(index));
    for (const auto& [key, value] : *values.dictItems()) t.set(key, value);
    writeInfo();
}

void ZVFomixXManager::setStartOffsetTime(double seconds, ZVFomixXResource kind) {
    setPropertie(std::string(kStartOffsetTimeKey), ZVValue(seconds), kind);
}

std::optional<double> ZVFomixXManager::startOffsetTime(ZVFomixXResource kind) const {
    auto properties = propertiesForResource(kind);
    if (!properties) return std::nullopt;
    const ZVValue* offset = properties->get(kStartOffsetTimeKey);
    if (!offset || !offset->isNumber() || offset->kind() == ZVValue::Kind::Bool)
        return std::nullopt;
    return offset->doubleValue();
}

std::optional<std::string> ZVFomixXManager::extractMovie() {
    if (!_exists) return std::nullopt;
    if (!_package) return _infoDict.get(kPlainMovieKey)->stringValue();
    std::string movie = joinPath(_filePath, kMovieFileName);
    if (!nameTaken(movie)) return std::nullopt;
    std::string destination = movieDestination();
    // A rename, never a copy; refusing to replace closes the gap between choosing the
    // free name and taking it, where the file system allows that.
    int r = ::renameat2(AT_FDCWD, movie.c_str(), AT_FDCWD, destination.c_str(), RENAME_NOREPLACE);
    if (r != 0 && (errno == EINVAL || errno == ENOSYS))
        r = ::rename(movie.c_str(), destination.c_str());
    if (r != 0)
        ZVLog("ZVFomixXManager: cannot move %s to %s: %s", movie.c_str(), destination.c_str(),
              std::strerror(errno));
    return destination;
}

std::string ZVFomixXManager::movieDestination() const {
    return firstFreePath(deletingPathExtension(_filePath), ".mov");
}

uint64_t ZVFomixXManager::fileSize() const {
    if (!_exists) return 0;
    struct stat st;
    if (!_package)
        return ::stat(_filePath.c_str(), &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
    uint64_t total = 0;
    std::error_code ec;
    fs::recursive_directory_iterator it(_filePath, fs::directory_options::skip_permission_denied,
                                        ec);
    for (; !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        std::string full = it->path().string();
        if (::stat(full.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) continue;
        if (pathExtension(full) == kMovieExtension) continue;
        // The entry's own size: a symbolic link counts as the link, not its target.
        if (::lstat(full.c_str(), &st) == 0) total += static_cast<uint64_t>(st.st_size);
    }
    return total;
}
