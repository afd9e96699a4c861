#pragma once
// Stop requests for the long-running commands: Ctrl-C, kill and the terminal going away.
// The handlers only count; each command's main loop polls and stops in order.
#include <string>

// Installs the handlers for SIGINT, SIGTERM and SIGHUP, even where a signal was inherited as
// ignored (a script's background job has SIGINT so), and ignores SIGXFSZ: past the file-size
// limit a write fails with EFBIG, which the writer reports with the file's name, instead of
// the process dying without a word.
void ZVCatchStopSignals();

// The signal that came last, 0 before any.
int ZVStopSignal();

// How many stop signals came so far: one more while a command drains ends it at once.
int ZVStopSignalCount();

// Rewrites the live status line on standard error in place.
void ZVShowStatusLine(const std::string& line);
