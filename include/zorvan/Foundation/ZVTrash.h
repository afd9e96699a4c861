#pragma once
// Moving a file or directory to the user's Trash, through the handler of the platform
// services (the freedesktop.org Trash through GIO on Linux desktops).
#include <string>

#include "Foundation/ZVPlatformServices.h"

// Moves `path` to the Trash of its file system. False with *error ("which path: why")
// when the platform refuses (a mount without a Trash) or `services` hold no Trash.
// Any thread.
bool ZVMoveToTrash(const ZVPlatformServices& services, const std::string& path,
                   std::string* error = nullptr);
