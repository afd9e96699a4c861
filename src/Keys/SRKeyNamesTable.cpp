#include "Keys/SRKeyNamesTable.h"

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <vector>

#include "Foundation/ZVBundle.h"
#include "Foundation/ZVLog.h"
#include "Foundation/ZVMutex.h"
#include "Foundation/ZVValue.h"

namespace {

using Table = std::map<std::string, std::string, std::less<>>;

constexpr std::string_view kTableName = "KeyNames";
constexpr std::string_view kFormatArgument = "%@";

// The table in use. Readers take the pointer and let go of the lock before looking up,
// so a language switch never waits for them nor they for it.
struct TableHolder {
    ZVMutex lock;  // guards table and loaded
    std::shared_ptr<const Table> table ZV_GUARDED_BY(lock);
    bool loaded ZV_GUARDED_BY(lock) = false;
};

TableHolder& holder() {
    static TableHolder* h = new TableHolder;  // never destroyed: used by any thread
    return *h;
}

// The user's language from the locale variables, as "de_DE" (no codeset, no modifier);
// empty for the C and POSIX locales.
std::string environmentLanguage() {
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(name);
        if (!value || !*value) continue;
        std::string language(value);
        language = language.substr(0, language.find_first_of(".@"));
        if (language == "C" || language == "POSIX") return {};
        return language;
    }
    return {};
}

// The table file of a language: the exact one ("de_DE"), else the language's ("de").
std::string tablePath(const std::string& language) {
    std::string file = std::string(kTableName) + ".plist";
    std::string path = ZVBundle::resourcePath(language + ".lproj/" + file);
    if (path.empty()) {
        if (size_t cut = language.find_first_of("_-"); cut != std::string::npos) {
            path = ZVBundle::resourcePath(language.substr(0, cut) + ".lproj/" + file);
        }
    }
    return path;
}

std::shared_ptr<const Table> loadTable(const std::string& language) {
    if (language.empty() || language.find('/') != std::string::npos) return nullptr;
    std::string path = tablePath(language);
    if (path.empty()) return nullptr;
    std::ifstream in(path, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::optional<Table> table = SRKeyNamesTable::parse(bytes.data(), bytes.size());
    if (!table) {
        ZVLog("%s: not a strings table (a property-list dictionary of strings)", path.c_str());
        return nullptr;
    }
    return std::make_shared<const Table>(std::move(*table));
}

std::shared_ptr<const Table> currentTable() {
    TableHolder& h = holder();
    {
        ZVLockGuard<ZVMutex> guard(h.lock);
        if (h.loaded) return h.table;
    }
    std::shared_ptr<const Table> table = loadTable(environmentLanguage());
    ZVLockGuard<ZVMutex> guard(h.lock);
    if (!h.loaded) {  // a selection made meanwhile wins
        h.table = std::move(table);
        h.loaded = true;
    }
    return h.table;
}

}  // namespace

std::optional<Table> SRKeyNamesTable::parse(const void* bytes, size_t length) {
    std::optional<ZVValue> plist = ZVValue::fromPropertyList(bytes, length);
    if (!plist || !plist->isDict()) return std::nullopt;
    Table table;
    for (const auto& [key, value] : *plist->dictItems()) {
        if (value.kind() == ZVValue::Kind::String) table[key] = value.stringValue();
    }
    return table;
}

std::string SRKeyNamesTable::localizedString(std::string_view key) {
    std::shared_ptr<const Table> table = currentTable();
    if (table) {
        if (auto it = table->find(key); it != table->end()) return it->second;
    }
    return std::string(key);
}

std::string SRKeyNamesTable::localizedFormat(std::string_view formatKey, std::string_view value) {
    return applyFormat(localizedString(formatKey), value);
}

std::string SRKeyNamesTable::applyFormat(std::string_view formatText, std::string_view value) {
    std::string format(formatText);
    if (size_t at = format.find(kFormatArgument); at != std::string::npos) {
        format.replace(at, kFormatArgument.size(), value);
    }
    return format;
}

bool SRKeyNamesTable::selectLanguage(std::string_view language) {
    std::string name = language.empty() ? environmentLanguage() : std::string(language);
    std::shared_ptr<const Table> table = loadTable(name);
    TableHolder& h = holder();
    ZVLockGuard<ZVMutex> guard(h.lock);
    h.table = table;
    h.loaded = true;
    return table != nullptr;
}
