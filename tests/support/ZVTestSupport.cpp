#include "support/ZVTestSupport.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

namespace zvtest {

LogCapture::LogCapture() {
    ZVSetLogSink([this](const std::string& line) {
        std::lock_guard<std::mutex> g(_lock);
        _lines.push_back(line);
    });
}
LogCapture::~LogCapture() {
    ZVSetLogSink(nullptr);
}

std::vector<std::string> LogCapture::lines() {
    std::lock_guard<std::mutex> g(_lock);
    return _lines;
}

bool LogCapture::contains(const std::string& text) {
    for (auto& l : lines())
        if (l.find(text) != std::string::npos) return true;
    return false;
}

AlertCapture::AlertCapture() {
    ZVSetAlertHandler([this](const std::string& t, const std::string& m) {
        std::lock_guard<std::mutex> g(_lock);
        _alerts.emplace_back(t, m);
    });
}
AlertCapture::~AlertCapture() {
    ZVSetAlertHandler(nullptr);
}

std::vector<std::pair<std::string, std::string>> AlertCapture::alerts() {
    std::lock_guard<std::mutex> g(_lock);
    return _alerts;
}

bool runMainUntil(const std::function<bool()>& done, double seconds) {
    return ZVRunLoop::main().runUntil(done, seconds);
}

TempDir::TempDir() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "zvtest-XXXXXX").string();
    char* p = mkdtemp(tmpl.data());
    if (!p) std::abort();
    _path = p;
}
TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(_path, ec);
}

StderrCapture::StderrCapture() {
    std::fflush(stderr);
    char tmpl[] = "/tmp/zvstderr-XXXXXX";
    int fd = mkstemp(tmpl);
    _file = tmpl;
    _saved = dup(2);
    dup2(fd, 2);
    close(fd);
}

std::string StderrCapture::text() {
    if (!_done) {
        std::fflush(stderr);
        dup2(_saved, 2);
        close(_saved);
        _text = readText(_file);
        unlink(_file.c_str());
        _done = true;
    }
    return _text;
}

StderrCapture::~StderrCapture() {
    text();
}

bool eventually(const std::function<bool()>& probe, double seconds) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!probe()) {
        if (std::chrono::steady_clock::now() > end) return probe();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

void endChild(int pid, double seconds) {
    auto gone = [pid] {
        const pid_t r = waitpid(pid, nullptr, WNOHANG);
        return r == pid || r < 0;
    };
    kill(pid, SIGTERM);
    if (eventually(gone, seconds)) return;
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
}

int startProgram(const std::vector<std::string>& argv, const std::string& in,
                 const std::string& out, const std::string& err, const std::string& fd3) {
    std::vector<char*> args;
    for (auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    const pid_t pid = fork();
    if (pid != 0) return pid;
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    auto put = [](int fd, const std::string& path, int flags) {
        const int f = open(path.empty() ? "/dev/null" : path.c_str(), flags, 0600);
        if (f != fd) dup2(f, fd), close(f);
    };
    constexpr int kWrite = O_WRONLY | O_CREAT | O_TRUNC;
    put(STDIN_FILENO, in, O_RDONLY);
    put(STDOUT_FILENO, out, kWrite);
    if (!err.empty() && err == out)
        dup2(STDOUT_FILENO, STDERR_FILENO);
    else
        put(STDERR_FILENO, err, kWrite);
    if (!fd3.empty()) put(3, fd3, kWrite);
    execvp(args[0], args.data());
    _exit(127);
}

std::string programOutput(const std::vector<std::string>& argv, int* status) {
    TempDir dir;
    const int pid = startProgram(argv, "", dir.file("out"), "");
    int st = -1;
    if (pid > 0) waitpid(pid, &st, 0);
    if (status) *status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    return readText(dir.file("out"));
}

std::string readText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void writeText(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

std::vector<uint8_t> readBytes(const std::string& path) {
    std::string text = readText(path);
    return std::vector<uint8_t>(text.begin(), text.end());
}

void writeBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    writeText(path, std::string(bytes.begin(), bytes.end()));
}

EnvScope::EnvScope(const char* name, const char* value) : _name(name) {
    if (const char* old = std::getenv(name)) _saved = old;
    value ? setenv(name, value, 1) : unsetenv(name);
}

EnvScope::~EnvScope() {
    _saved ? setenv(_name.c_str(), _saved->c_str(), 1) : unsetenv(_name.c_str());
}

}  // namespace zvtest
