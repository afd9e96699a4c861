#pragma once
#include "ZVPrivate.h"  // library-internal

#include <string>

// YES when a running process has exactly this short command name (case-sensitive; the
// kernel keeps at most 15 bytes of it, so a longer name never matches). Failures are
// written to standard error as "Error: %d\n" and answer false. Any thread.
bool isBSDProcessExists(const std::string& name);
