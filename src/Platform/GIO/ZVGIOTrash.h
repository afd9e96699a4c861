#pragma once
// Moving a file or directory to the user's Trash (the freedesktop.org Trash, through GIO).
#include <string>

// Moves `path` to the Trash of its file system (the home Trash under $XDG_DATA_HOME for
// files on the home file system). False with *error ("which path: why") when GIO refuses,
// for instance on a mount that has no Trash. Any thread.
bool ZVMoveToTrash(const std::string& path, std::string* error = nullptr);
