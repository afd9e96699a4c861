#pragma once
#include "ZVPrivate.h"  // library-internal

// The cursor list of a recording, as the package's cursors track keeps it ("cursors.dat"):
// a binary property list, an array of dictionaries {"Id" (integer), "Info" (the 44 bytes
// of ZVCursorInfo, in the byte order of the machine that recorded them), "Data" (the
// pixel bytes)}, in the order the recorder made them.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Foundation/ZVValue.h"
#include "Video/ZVCursorEntry.h"

class ZVCursorListFile {
  public:
    static constexpr std::string_view kIdKey = "Id";
    static constexpr std::string_view kInfoKey = "Info";
    static constexpr std::string_view kDataKey = "Data";
    // Larger files are refused unread: a cursor list holds a few dozen small images.
    static constexpr size_t kMaxFileSize = 256u << 20;

    ZVCursorListFile() = delete;

    // Writes the list to `path` atomically (a temporary file renamed into place). An entry
    // without data is written with empty "Data". False with *error ("path: why") when the
    // file cannot be written. Any thread.
    static bool write(const std::string& path, const std::vector<ZVCursorEntry>& cursors,
                      std::string* error = nullptr);
    // Reads a list written by write (or by anything that keeps the same form). A file that
    // is missing, is not such a list, or has an entry whose "Info" disagrees with its
    // "Data" in both byte orders gives nullopt and *error ("path: what is wrong"); nothing
    // of a damaged file is returned. Any thread.
    static std::optional<std::vector<ZVCursorEntry>> read(const std::string& path,
                                                          std::string* error = nullptr);

    // The same in memory. The errors name no file. Any thread.
    static ZVValue toPropertyList(const std::vector<ZVCursorEntry>& cursors);
    static std::optional<std::vector<ZVCursorEntry>> fromPropertyList(const ZVValue& list,
                                                                      std::string* error = nullptr);
    static std::optional<std::vector<ZVCursorEntry>> fromBytes(const void* bytes, size_t length,
                                                               std::string* error = nullptr);
};
