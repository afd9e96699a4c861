#include "Platform/PipeWire/ZVScreenCastTokenFile.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "Foundation/ZVUserDirectory.h"

namespace {
// A word as a token or desktop name may hold it: printable, no blanks.
bool isWord(std::string_view w) {
    if (w.empty() || w.size() > 256) return false;
    for (unsigned char c : w)
        if (c <= ' ' || c >= 0x7f) return false;
    return true;
}
}  // namespace

std::string ZVScreenCastTokenFile::path() {
    return ZVUserDirectory(ZVUserDirectoryKind::state) + "/zorvan/screencast-tokens";
}

std::string ZVScreenCastTokenFile::currentDesktop() {
    const char* desktop = std::getenv("XDG_CURRENT_DESKTOP");
    return desktop && isWord(desktop) ? desktop : "-";
}

std::map<uint32_t, ZVKeptScreenCastToken> ZVScreenCastTokenFile::parse(std::string_view text) {
    std::map<uint32_t, ZVKeptScreenCastToken> tokens;
    while (!text.empty()) {
        const size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        std::string_view words[3];
        size_t n = 0;
        while (!line.empty() && n <= 3) {
            const size_t start = line.find_first_not_of(' ');
            if (start == std::string_view::npos) break;
            line.remove_prefix(start);
            const size_t stop = line.find(' ');
            if (n < 3) words[n] = line.substr(0, stop);
            ++n;
            line = stop == std::string_view::npos ? std::string_view() : line.substr(stop);
        }
        if (n != 3 || !isWord(words[1]) || !isWord(words[2]) || words[0].size() > 9) continue;
        uint32_t types = 0;
        bool number = true;
        for (char c : words[0]) {
            number = number && c >= '0' && c <= '9';
            types = types * 10 + uint32_t(c - '0');
        }
        if (number && types != 0) tokens[types] = {std::string(words[1]), std::string(words[2])};
    }
    return tokens;
}

std::string ZVScreenCastTokenFile::format(const std::map<uint32_t, ZVKeptScreenCastToken>& tokens) {
    std::string text;
    for (const auto& [types, kept] : tokens)
        if (isWord(kept.desktop) && isWord(kept.token))
            text += std::to_string(types) + " " + kept.desktop + " " + kept.token + "\n";
    return text;
}

namespace {
std::string readFile(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}
}  // namespace

std::optional<ZVKeptScreenCastToken> ZVScreenCastTokenFile::load(uint32_t sourceTypes) {
    auto tokens = parse(readFile(path()));
    auto found = tokens.find(sourceTypes);
    if (found == tokens.end()) return std::nullopt;
    return found->second;
}

bool ZVScreenCastTokenFile::store(uint32_t sourceTypes, const ZVKeptScreenCastToken& token,
                                  std::string* error) {
    const std::string file = path();
    auto tokens = parse(readFile(file));
    if (token.token.empty())
        tokens.erase(sourceTypes);
    else
        tokens[sourceTypes] = token;
    // The folders may be missing on a fresh account; the token is the user's alone.
    const std::string state = ZVUserDirectory(ZVUserDirectoryKind::state);
    mkdir(state.c_str(), 0700);
    mkdir((state + "/zorvan").c_str(), 0700);
    // Written beside and renamed over, so a crash never leaves half a file.
    const std::string temporary = file + ".new";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out << format(tokens);
        if (!out.flush()) {
            if (error) *error = "cannot write " + temporary + ": " + std::strerror(errno);
            return false;
        }
    }
    chmod(temporary.c_str(), 0600);
    if (std::rename(temporary.c_str(), file.c_str()) != 0) {
        if (error) *error = "cannot write " + file + ": " + std::strerror(errno);
        std::remove(temporary.c_str());
        return false;
    }
    return true;
}
