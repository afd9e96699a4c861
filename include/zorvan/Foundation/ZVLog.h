#pragma once
// One line per event to the system log (ident "Zorvan"), no levels. A host or a test
// may install a sink that sees every line as well. Any thread.
#include <functional>
#include <string>

void ZVLog(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Installs a sink that receives each logged line (without line end), in addition to
// syslog; an empty function removes it. The sink may be called on any thread. Any thread.
using ZVLogSink = std::function<void(const std::string&)>;
void ZVSetLogSink(ZVLogSink sink);

// printf into a std::string; shared by the log, alerts and messages.
std::string ZVFormat(const char* format, ...) __attribute__((format(printf, 1, 2)));
