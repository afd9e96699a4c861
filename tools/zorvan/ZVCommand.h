#pragma once
// The zorvan tool's commands. Each command lives in a file of its own and registers itself
// with a static ZVCommand::Registration, so adding one touches no other file.
#include <optional>
#include <string>
#include <vector>

struct ZVCommand {
    const char* name;
    const char* summary;  // one line for `zorvan --help`
    const char* usage;    // the full `zorvan NAME --help` text
    int (*run)(const std::vector<std::string>& args);

    struct Registration {
        explicit Registration(const ZVCommand& command);
    };
    static const std::vector<ZVCommand>& all();
};

// One clear line on standard error ("zorvan NAME: message"); returns the exit status 1.
int ZVCommandFail(const char* command, const std::string& message);

// An option's value as a finite number above 0 with nothing after it; nullopt otherwise,
// also when the option came without a value.
std::optional<double> ZVCommandPositiveNumber(const std::optional<std::string>& text);
