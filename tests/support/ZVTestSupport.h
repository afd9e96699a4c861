#pragma once
// Helpers shared by the test binaries.
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "ZorvanInternal.h"

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

// Starts a program found on PATH (no shell) with standard input, output and error read
// from and written to these files ("" is /dev/null; output and error may share a file),
// and `fd3`, when given, written through descriptor 3. The program is sent SIGTERM when
// the thread that started it ends, even by a crash. Its process id.
int startProgram(const std::vector<std::string>& argv, const std::string& in,
                 const std::string& out, const std::string& err, const std::string& fd3 = "");

// Runs a program found on PATH (no shell; standard input empty, standard error discarded)
// and waits; its standard output, and its exit status (127 when it was not found, -1 when
// it did not exit) in *status.
std::string programOutput(const std::vector<std::string>& argv, int* status = nullptr);

// Ends the child process `pid`: SIGTERM, then SIGKILL when it has not gone within
// `seconds`; it is reaped either way.
void endChild(int pid, double seconds = 5);

// A whole file as bytes ("" when it cannot be read), and a file made of `bytes`.
std::string readText(const std::string& path);
void writeText(const std::string& path, const std::string& bytes);
std::vector<uint8_t> readBytes(const std::string& path);
void writeBytes(const std::string& path, const std::vector<uint8_t>& bytes);

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

// Sets (or, for nullptr, unsets) one environment variable while it lives; restores the
// previous value when it goes.
class EnvScope {
  public:
    EnvScope(const char* name, const char* value);
    ~EnvScope();
    EnvScope(const EnvScope&) = delete;
    EnvScope& operator=(const EnvScope&) = delete;

  private:
    std::string _name;
    std::optional<std::string> _saved;  // none when it was not set
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
