#pragma once
#include "ZVPrivate.h"  // library-internal

// The freedesktop.org Trash through GIO: the Trash handler of Linux desktops.
#include <string>

// Moves `path` to the Trash of its file system (the home Trash under $XDG_DATA_HOME for
// files on the home file system). False with *error ("which path: why") when GIO refuses,
// for instance on a mount that has no Trash. Any thread.
bool ZVGIOMoveToTrash(const std::string& path, std::string* error);
