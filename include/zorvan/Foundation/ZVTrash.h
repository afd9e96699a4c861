#pragma once
// Moving a file or directory to the user's Trash, through the handler the platform
// installed (the freedesktop.org Trash through GIO on Linux desktops).
#include <string>

// Moves `path` to the Trash of its file system. False with *error ("which path: why")
// when the platform refuses (a mount without a Trash) or none is installed. Any thread.
bool ZVMoveToTrash(const std::string& path, std::string* error = nullptr);

// The platform's way of doing it; nullptr: none. Any thread.
using ZVTrashHandler = bool (*)(const std::string& path, std::string* error);
void ZVSetTrashHandler(ZVTrashHandler handler);
