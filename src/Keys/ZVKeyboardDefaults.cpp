#include "Keys/ZVKeyboardDefaults.h"

#include <cstdlib>
#include <fstream>
#include <iterator>

namespace {
// A value as the shell reads it when it holds no expansions: "double" or 'single' quotes
// or a bare word, up to a comment.
std::string unquote(std::string_view v) {
    std::string out;
    char quote = 0;
    for (char c : v) {
        if (quote) {
            if (c == quote) {
                quote = 0;
            } else {
                out += c;
            }
        } else if (c == '"' || c == '\'') {
            quote = c;
        } else if (c == '#' || c == ' ' || c == '\t') {
            break;
        } else {
            out += c;
        }
    }
    return out;
}

std::string_view trimmed(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
        s.remove_suffix(1);
    return s;
}
}  // namespace

ZVXkbNames ZVParseKeyboardDefaults(std::string_view text) {
    ZVXkbNames names;
    while (!text.empty()) {
        size_t end = text.find('\n');
        std::string_view line = trimmed(text.substr(0, end));
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (line.rfind("export ", 0) == 0) line = trimmed(line.substr(7));
        size_t eq = line.find('=');
        if (eq == std::string_view::npos) continue;
        std::string_view key = line.substr(0, eq);
        std::string value = unquote(line.substr(eq + 1));
        if (key == "XKBMODEL") names.model = value;
        if (key == "XKBLAYOUT") names.layout = value;
        if (key == "XKBVARIANT") names.variant = value;
        if (key == "XKBOPTIONS") names.options = value;
    }
    return names;
}

ZVXkbNames ZVSystemXkbNames(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::string text;
    if (file) text.assign(std::istreambuf_iterator<char>(file), {});
    ZVXkbNames names = ZVParseKeyboardDefaults(text);
    const std::pair<const char*, std::string*> overrides[] = {
        {"XKB_DEFAULT_RULES", &names.rules},     {"XKB_DEFAULT_MODEL", &names.model},
        {"XKB_DEFAULT_LAYOUT", &names.layout},   {"XKB_DEFAULT_VARIANT", &names.variant},
        {"XKB_DEFAULT_OPTIONS", &names.options},
    };
    for (auto& [variable, name] : overrides) {
        if (const char* v = std::getenv(variable); v && *v) *name = v;
    }
    return names;
}
