#pragma once
// The zorvan tool run as a user runs it: its own process, its output in files, signals
// and a bounded wait. The tool is $ZORVAN_BIN/zorvan (the build directory).
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/ZVTestSupport.h"

namespace zvtest {

inline std::string zorvan() {
    const char* dir = std::getenv("ZORVAN_BIN");
    return std::string(dir ? dir : ".") + "/zorvan";
}

// One run of the zorvan tool with its output in files.
class Zorvan {
  public:
    Zorvan(const zvtest::TempDir& dir, std::vector<std::string> args)
        : _out(dir.file("out.txt")), _err(dir.file("err.txt")) {
        args.insert(args.begin(), zorvan());
        _pid = fork();
        if (_pid == 0) {
            int out = open(_out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            int err = open(_err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            dup2(out, STDOUT_FILENO);
            dup2(err, STDERR_FILENO);
            std::vector<char*> argv;
            for (auto& a : args) argv.push_back(a.data());
            argv.push_back(nullptr);
            execv(argv[0], argv.data());
            _exit(127);
        }
    }
    ~Zorvan() {
        if (_pid > 0 && _status < 0) {
            kill(_pid, SIGKILL);
            waitpid(_pid, nullptr, 0);
        }
    }
    void signal(int sig) { kill(_pid, sig); }
    // The exit status, or -1 when it did not end within `seconds` (it is then killed).
    int wait(double seconds = 60) {
        auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
        int status = 0;
        while (waitpid(_pid, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > end) return -1;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
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

inline std::string trimmed(std::string s) {
    while (!s.empty() && (s.back() == '\n' || s.back() == ' ')) s.pop_back();
    return s;
}

}  // namespace zvtest
