#include "support/ZVTestSupport.h"

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
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
        std::ifstream in(_file);
        std::stringstream ss;
        ss << in.rdbuf();
        _text = ss.str();
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

std::string readText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void writeText(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

}  // namespace zvtest
