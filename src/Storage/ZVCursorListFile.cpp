#include "Storage/ZVCursorListFile.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <limits>

#include "Foundation/ZVLog.h"

namespace {

uint32_t byteSwapped(int32_t v) {
    return __builtin_bswap32(static_cast<uint32_t>(v));
}

bool fail(std::string* error, std::string message) {
    if (error) *error = std::move(message);
    return false;
}

// One dictionary of the list as an entry; false with *error saying what is wrong with it.
bool entryFrom(const ZVValue& item, size_t index, ZVCursorEntry* entry, std::string* error) {
    std::string which = ZVFormat("cursor %zu", index);
    if (!item.isDict()) return fail(error, which + " is not a dictionary");
    const ZVValue* id = item.get(ZVCursorListFile::kIdKey);
    if (!id || id->kind() != ZVValue::Kind::Integer)
        return fail(error, which + " has no integer \"Id\"");
    int64_t idValue = id->intValue();
    if (idValue < std::numeric_limits<int32_t>::min() ||
        idValue > std::numeric_limits<int32_t>::max())
        return fail(error, which + ZVFormat(": \"Id\" %lld is out of range",
                                            static_cast<long long>(idValue)));
    const ZVValue* info = item.get(ZVCursorListFile::kInfoKey);
    if (!info || !info->data() || info->data()->size() != sizeof(ZVCursorInfo))
        return fail(error,
                    which + ZVFormat(": \"Info\" is not %zu bytes of data", sizeof(ZVCursorInfo)));
    const ZVValue* data = item.get(ZVCursorListFile::kDataKey);
    if (!data || !data->data()) return fail(error, which + " has no \"Data\"");

    entry->id = static_cast<int32_t>(idValue);
    std::memcpy(&entry->info, info->data()->data(), sizeof(ZVCursorInfo));
    // The record may come from a machine of the other byte order; its size must match the
    // pixels in one of the two, or drawing it would read past them.
    uint64_t bytes = data->data()->size();
    int32_t size = entry->info.size;
    bool matches = (size >= 0 && static_cast<uint64_t>(size) == bytes) ||
                   static_cast<uint64_t>(byteSwapped(size)) == bytes;
    if (!matches)
        return fail(error, which + ZVFormat(": \"Info\" gives %d bytes of pixels but \"Data\" "
                                            "holds %llu",
                                            size, static_cast<unsigned long long>(bytes)));
    entry->data = std::make_shared<const std::vector<uint8_t>>(*data->data());
    return true;
}

}  // namespace

ZVValue ZVCursorListFile::toPropertyList(const std::vector<ZVCursorEntry>& cursors) {
    ZVValue::Array list;
    list.reserve(cursors.size());
    for (const auto& c : cursors) {
        ZVValue entry = ZVValue::dict();
        entry.set(kIdKey, static_cast<int64_t>(c.id));
        const auto* info = reinterpret_cast<const uint8_t*>(&c.info);
        entry.set(kInfoKey, ZVValue::Data(info, info + sizeof(ZVCursorInfo)));
        entry.set(kDataKey, c.data ? ZVValue::Data(*c.data) : ZVValue::Data());
        list.push_back(std::move(entry));
    }
    return ZVValue(std::move(list));
}

std::optional<std::vector<ZVCursorEntry>> ZVCursorListFile::fromPropertyList(const ZVValue& list,
                                                                             std::string* error) {
    if (!list.isArray()) {
        fail(error, "the cursor list is not an array");
        return std::nullopt;
    }
    std::vector<ZVCursorEntry> cursors;
    cursors.reserve(list.size());
    const auto& items = *list.arrayItems();
    for (size_t i = 0; i < items.size(); ++i) {
        ZVCursorEntry entry;
        if (!entryFrom(items[i], i, &entry, error)) return std::nullopt;
        cursors.push_back(std::move(entry));
    }
    return cursors;
}

std::optional<std::vector<ZVCursorEntry>> ZVCursorListFile::fromBytes(const void* bytes,
                                                                      size_t length,
                                                                      std::string* error) {
    auto list = ZVValue::fromPropertyList(bytes, length);
    if (!list) {
        fail(error, "not a property list");
        return std::nullopt;
    }
    return fromPropertyList(*list, error);
}

bool ZVCursorListFile::write(const std::string& path, const std::vector<ZVCursorEntry>& cursors,
                             std::string* error) {
    return toPropertyList(cursors).writeFile(path, true, error);
}

std::optional<std::vector<ZVCursorEntry>> ZVCursorListFile::read(const std::string& path,
                                                                 std::string* error) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) {
        fail(error, path + ": " + std::strerror(errno));
        return std::nullopt;
    }
    if (!S_ISREG(st.st_mode)) {
        fail(error, path + ": not a regular file");
        return std::nullopt;
    }
    if (static_cast<uint64_t>(st.st_size) > kMaxFileSize) {
        fail(error, path + ": too large for a cursor list");
        return std::nullopt;
    }
    std::string why;
    auto list = ZVValue::readFile(path, &why);
    if (!list) {
        fail(error, why);  // already names the file
        return std::nullopt;
    }
    auto cursors = fromPropertyList(*list, &why);
    if (!cursors) fail(error, path + ": " + why);
    return cursors;
}
