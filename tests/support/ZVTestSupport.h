#pragma once
// Helpers shared by the test binaries.
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "Zorvan.h"

namespace zvtest {

// Collects every ZVLog line while it lives.
class LogCapture {
  public:
    LogCapture();
    ~LogCapture();
    std::vector<std::string> lines();
    bool contains(const std::string& text);

  private:
    std::mutex _lock;  // guards _lines
    std::vector<std::string> _lines;
};

// Collects every alert while it lives (title, message).
class AlertCapture {
  public:
    AlertCapture();
    ~AlertCapture();
    std::vector<std::pair<std::string, std::string>> alerts();

  private:
    std::mutex _lock;  // guards _alerts
    std::vector<std::pair<std::string, std::string>> _alerts;
};

// Drains the main run loop until `done` or the timeout; true when done. Main thread.
bool runMainUntil(const std::function<bool()>& done, double seconds = 10);

// Polls `probe` every few milliseconds until it holds or `seconds` pass; true when it
// held. For what another thread or process does. Any thread.
bool eventually(const std::function<bool()>& probe, double seconds = 5);

// A whole file as bytes ("" when it cannot be read), and a file made of `bytes`.
std::string readText(const std::string& path);
void writeText(const std::string& path, const std::string& bytes);

// A fresh temporary directory, removed with everything in it when the object goes.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    const std::string& path() const { return _path; }
    std::string file(const std::string& name) const { return _path + "/" + name; }

  private:
    std::string _path;
};

// Standard error written while it lives.
class StderrCapture {
  public:
    StderrCapture();
    ~StderrCapture();
    std::string text();  // what was written so far (stops capturing)

  private:
    int _saved = -1;
    std::string _file;
    bool _done = false;
    std::string _text;
};

}  // namespace zvtest
