#pragma once
// The zorvan tool run as a user runs it: its own process, its output in files, signals
// and a bounded wait. The tool is $ZORVAN_BIN/zorvan (the build directory).
#include <signal.h>
#include <sys/wait.h>

#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "support/ZVTestSupport.h"

namespace zvtest {

inline std::string zorvan() {
    const char* dir = std::getenv("ZORVAN_BIN");
    return std::string(dir ? dir : ".") + "/zorvan";
}

// One run of the zorvan tool with its output in files and `input` on its standard input.
class Zorvan {
  public:
    Zorvan(const zvtest::TempDir& dir, std::vector<std::string> args, const std::string& input = "")
        : _out(dir.file("out.txt")), _err(dir.file("err.txt")) {
        writeText(dir.file("in.txt"), input);
        args.insert(args.begin(), zorvan());
        _pid = startProgram(args, dir.file("in.txt"), _out, _err);
    }
    ~Zorvan() {
        if (_pid > 0 && _status < 0) {
            kill(_pid, SIGKILL);
            waitpid(_pid, nullptr, 0);
        }
    }
    pid_t pid() const { return _pid; }
    // Sends `sig` once the tool catches it: before that (the loader still mapping its
    // libraries on a busy machine) the signal would only test the kernel's default action.
    void signal(int sig) {
        if (sig != SIGKILL)
            eventually([&] {
                const std::string status = readText("/proc/" + std::to_string(_pid) + "/status");
                const size_t at = status.find("SigCgt:\t");
                return at != std::string::npos &&
                       (std::stoull(status.substr(at + 8, 16), nullptr, 16) >> (sig - 1) & 1);
            });
        kill(_pid, sig);
    }
    // The exit status, or -1 when it did not end within `seconds` (it is then killed).
    int wait(double seconds = 60) {
        int status = 0;
        if (!eventually([&] { return waitpid(_pid, &status, WNOHANG) != 0; }, seconds)) return -1;
        _status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        return _status;
    }
    std::string out() const { return readText(_out); }
    std::string err() const { return readText(_err); }

  private:
    std::string _out, _err;
    pid_t _pid = -1;
    int _status = -1;
};

// Runs zorvan to the end and gives its exit status and standard output.
inline int runZorvan(const zvtest::TempDir& dir, std::vector<std::string> args, std::string* out) {
    Zorvan z(dir, std::move(args));
    int status = z.wait();
    if (out) *out = z.out();
    return status;
}

// What one run of zorvan left: its exit status, standard output and standard error.
struct ZorvanRun {
    int status;
    std::string out, err;
};

// Runs zorvan with the words of `line` (split at spaces) and `input` on its standard input,
// in a folder of its own, to its end.
inline ZorvanRun runZorvanLine(const std::string& line, const std::string& input = "") {
    TempDir dir;
    std::vector<std::string> words;
    std::istringstream in(line);
    for (std::string w; in >> w;) words.push_back(w);
    Zorvan z(dir, words, input);
    return {z.wait(), z.out(), z.err()};
}

inline std::string trimmed(std::string s) {
    while (!s.empty() && (s.back() == '\n' || s.back() == ' ')) s.pop_back();
    return s;
}

}  // namespace zvtest
