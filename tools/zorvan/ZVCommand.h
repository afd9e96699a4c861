#pragma once
// The zorvan tool's commands. Each command lives in a file of its own and registers itself
// with a static ZVCommand::Registration, so adding one touches no other file.
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "Platform/ZVPlatformDefaults.h"

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

// One option of a command: a switch that sets `flag`, or an option whose value `take`
// reads (the next word, nullopt when there is none); `take` returns what is wrong, as the
// command's error line, or nullptr.
struct ZVCommandOption {
    const char* name;
    std::function<const char*(const std::optional<std::string>& value)> take;
    bool* flag = nullptr;
};

// Reads `args` as `options` in any order and one word that is no option into `operand`,
// which `noun` names ("more than one NOUN given", "no NOUN given (see 'zorvan COMMAND
// --help')"); an unknown option is refused likewise. What is wrong first, or nullopt.
std::optional<std::string> ZVCommandParse(const char* command, const std::vector<std::string>& args,
                                          const std::vector<ZVCommandOption>& options,
                                          const char* noun, std::string& operand);

// What is wrong with the output file `path` before anything is written to it, as
// "cannot write PATH: why" (its directory is missing or no directory or not writable, or
// the path names a directory); nullopt when it can be written as far as can be told.
std::optional<std::string> ZVCommandOutputProblem(const std::string& path);
// The line for a write of `path` that failed although it looked writable: the file
// system's full state when it is full, else what is known.
std::string ZVCommandWriteFailure(const std::string& path);

// Why a screen rectangle given as `text` could not be read as WxH+X+Y, said after the
// quoted text: "is larger than the screens (3840x1080 in all)", "has no position ...",
// or "is not a rectangle WxH+X+Y" when it is not one at all; the screens of `services`.
std::string ZVCommandRectProblem(const std::string& text,
                                 const ZVPlatformServices& services = ZVPlatformDefaults());

// The options of every command that reads the screen: --backend x11|wayland and --ask (on
// Wayland, show the portal's sharing dialog even where the choice was kept), into
// `platform`.
std::vector<ZVCommandOption> ZVCommandBackendOptions(ZVPlatformOptions& platform);
// The platform for `platform`, whose lines for the user (a kept permission dropped) go to
// standard error as "zorvan COMMAND: line".
ZVPlatformServices ZVCommandServices(const char* command, ZVPlatformOptions platform);
