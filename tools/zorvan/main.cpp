// zorvan: records the screen, the microphone and the system's sound into a recording
// package, and inspects and exports what was recorded.
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <regex>

#include "ZVCommand.h"
#include "Zorvan.h"

namespace {
std::vector<ZVCommand>& registry() {
    static std::vector<ZVCommand> commands;
    return commands;
}

void printHelp() {
    std::printf("usage: zorvan COMMAND [ARGS]\n\nCommands:\n");
    auto commands = registry();
    std::sort(commands.begin(), commands.end(),
              [](auto& a, auto& b) { return std::strcmp(a.name, b.name) < 0; });
    for (auto& c : commands) std::printf("  %-12s %s\n", c.name, c.summary);
    std::printf("\n'zorvan COMMAND --help' tells more about one command.\n");
}
}  // namespace

ZVCommand::Registration::Registration(const ZVCommand& command) {
    registry().push_back(command);
}

const std::vector<ZVCommand>& ZVCommand::all() {
    return registry();
}

int ZVCommandFail(const char* command, const std::string& message) {
    std::fprintf(stderr, "zorvan %s: %s\n", command, message.c_str());
    return 1;
}

std::optional<double> ZVCommandPositiveNumber(const std::optional<std::string>& text) {
    if (!text) return std::nullopt;
    char* end = nullptr;
    const double d = std::strtod(text->c_str(), &end);
    if (end == text->c_str() || *end || !(d > 0) || !std::isfinite(d)) return std::nullopt;
    return d;
}

std::optional<std::string> ZVCommandParse(const char* command, const std::vector<std::string>& args,
                                          const std::vector<ZVCommandOption>& options,
                                          const char* noun, std::string& operand) {
    const std::string help = std::string(" (see 'zorvan ") + command + " --help')";
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto option = std::find_if(options.begin(), options.end(),
                                   [&](const ZVCommandOption& o) { return a == o.name; });
        if (option != options.end() && option->flag) {
            *option->flag = true;
        } else if (option != options.end()) {
            // The next word is the value, whatever it looks like.
            std::optional<std::string> value;
            if (i + 1 < args.size()) value = args[++i];
            if (const char* problem = option->take(value)) return problem;
        } else if (a.size() > 1 && a[0] == '-') {
            return "unknown option " + a + help;
        } else if (operand.empty()) {
            operand = a;
        } else {
            return std::string("more than one ") + noun + " given";
        }
    }
    if (operand.empty()) return std::string("no ") + noun + " given" + help;
    return std::nullopt;
}

std::optional<std::string> ZVCommandOutputProblem(const std::string& path) {
    namespace fs = std::filesystem;
    const fs::path file(path);
    const fs::path dir = file.has_parent_path() ? file.parent_path() : fs::path(".");
    std::error_code ec;
    const std::string head = "cannot write " + path + ": ";
    if (fs::is_directory(file, ec)) return head + "it is a directory";
    struct stat st;
    if (::stat(dir.c_str(), &st) != 0) return head + dir.string() + ": " + std::strerror(errno);
    if (!S_ISDIR(st.st_mode)) return head + dir.string() + " is no directory";
    if (::access(dir.c_str(), W_OK | X_OK) != 0)
        return head + dir.string() + ": " + std::strerror(errno);
    return std::nullopt;
}

std::string ZVCommandWriteFailure(const std::string& path) {
    const std::filesystem::path file(path);
    const std::string dir = file.has_parent_path() ? file.parent_path().string() : ".";
    struct statvfs fs;
    if (::statvfs(dir.c_str(), &fs) == 0 && fs.f_bavail == 0)
        return "cannot write " + path + ": " + std::strerror(ENOSPC);
    return "cannot write " + path + ": the file could not be written whole";
}

std::vector<ZVCommandOption> ZVCommandBackendOptions(ZVPlatformOptions& platform) {
    return {{"--backend",
             [&platform](const std::optional<std::string>& v) -> const char* {
                 if (v == "x11")
                     platform.backend = ZVDisplayBackend::x11;
                 else if (v == "wayland")
                     platform.backend = ZVDisplayBackend::wayland;
                 else
                     return "--backend needs x11 or wayland";
                 return nullptr;
             }},
            {"--ask", {}, &platform.askAnew}};
}

ZVPlatformServices ZVCommandServices(const char* command, ZVPlatformOptions platform) {
    platform.notice = [command](const std::string& line) {
        std::fprintf(stderr, "zorvan %s: %s\n", command, line.c_str());
    };
    return ZVPlatformServicesFor(platform);
}

std::string ZVCommandRectProblem(const std::string& text, const ZVPlatformServices& services) {
    std::smatch m;
    if (!std::regex_match(text, m, std::regex("([0-9]+)x([0-9]+)((\\+-?[0-9]+){2})?")))
        return "is not a rectangle WxH+X+Y";
    // The bounding box of every display, in root pixels.
    float x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    bool any = false;
    for (const auto& d : services.displayServer->displays()) {
        x0 = any ? std::min(x0, d.frame.minX()) : d.frame.minX();
        y0 = any ? std::min(y0, d.frame.minY()) : d.frame.minY();
        x1 = any ? std::max(x1, d.frame.maxX()) : d.frame.maxX();
        y1 = any ? std::max(y1, d.frame.maxY()) : d.frame.maxY();
        any = true;
    }
    const float w = x1 - x0, h = y1 - y0;
    const double width = std::stod(m[1]), height = std::stod(m[2]);
    if (width > w || height > h)
        return ZVFormat("is larger than the screens (%.0fx%.0f in all)", double(w), double(h));
    if (width < 1 || height < 1) return "is empty";
    if (!m[3].matched) return "has no position: give WxH+X+Y, such as " + text + "+0+0";
    return "lies on no screen";
}

int main(int argc, char** argv) {
    if (argc < 2 || !std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "-h")) {
        printHelp();
        return argc < 2 ? 2 : 0;
    }
    if (!std::strcmp(argv[1], "--version")) {
        std::printf("zorvan %.1f\n", ZorvanVersionNumber);
        return 0;
    }
    for (auto& c : registry()) {
        if (std::strcmp(c.name, argv[1]) != 0) continue;
        std::vector<std::string> args(argv + 2, argv + argc);
        if (std::find(args.begin(), args.end(), "--help") != args.end()) {
            std::fputs(c.usage, stdout);
            return 0;
        }
        return c.run(args);
    }
    std::fprintf(stderr, "zorvan: unknown command '%s' (see 'zorvan --help')\n", argv[1]);
    return 2;
}
