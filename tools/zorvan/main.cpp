// zorvan: records the screen, the microphone and the system's sound into a recording
// package, and inspects and exports what was recorded.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

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
