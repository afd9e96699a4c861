#pragma once
#include "ZVPrivate.h"  // library-internal

// The localised words of key naming ("Space", "Command + ", "Pad %@"...): the strings table
// "KeyNames" among the framework's resources, one per language, as
// <resources>/<language>.lproj/KeyNames.plist, a property-list dictionary of strings
// (key -> word). Without a table for the language, or without the key in it, the key itself is the
// word.
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

class SRKeyNamesTable {
  public:
    // The word for `key` in the table in use (loaded on first use for the language of
    // LC_ALL / LC_MESSAGES / LANG); `key` itself when the table has none. Any thread.
    static std::string localizedString(std::string_view key);

    // "Pad %@"-style lookup: the localised format with its first "%@" replaced by `value`
    // (a format without "%@" is used as it is). Any thread.
    static std::string localizedFormat(std::string_view formatKey, std::string_view value);

    // `format` with its first "%@" replaced by `value`; `format` itself without one.
    // Any thread.
    static std::string applyFormat(std::string_view format, std::string_view value);

    // Uses the table of `language` ("de", "de_DE", "en"; empty: the environment's) from
    // now on. Returns false when there is no readable table for it (the keys are then
    // their own words). Any thread.
    static bool selectLanguage(std::string_view language);

    // A table from the bytes of a property list (XML or binary); nullopt when they are no
    // dictionary.
    // Entries whose value is not a string are left out. Any thread.
    static std::optional<std::map<std::string, std::string, std::less<>>> parse(const void* bytes,
                                                                                size_t length);
};
