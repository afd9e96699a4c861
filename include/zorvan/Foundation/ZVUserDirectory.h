#pragma once
// The user's own folders for data, state and configuration, found the freedesktop.org way
// ($XDG_DATA_HOME, $XDG_STATE_HOME, $XDG_CONFIG_HOME, else their places under $HOME).
// The library and the driver installer must agree on them to the letter: the installer
// copies the driver where the library later looks for it.
#include <string>

enum class ZVUserDirectoryKind { data, state, config };

// The folder of `kind`: its variable when set and not empty, else ~/.local/share,
// ~/.local/state or ~/.config ($HOME, or /tmp without one). Read anew at every call, so a
// changed environment counts at once. Any thread.
std::string ZVUserDirectory(ZVUserDirectoryKind kind);
