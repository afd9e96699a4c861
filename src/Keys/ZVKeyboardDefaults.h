#pragma once
#include "ZVPrivate.h"  // library-internal

// The system's keyboard setting as XKB names, for a desktop whose compositor does not say
// which keymap it uses: /etc/default/keyboard (Debian's and Ubuntu's, read by the
// console and most compositors) with XKB_DEFAULT_* of the environment over it.
#include <string>
#include <string_view>

struct ZVXkbNames {
    std::string rules, model, layout, variant, options;
    bool empty() const { return layout.empty() && model.empty() && rules.empty(); }
};

// The names in the text of an /etc/default/keyboard file: its XKBMODEL, XKBLAYOUT,
// XKBVARIANT and XKBOPTIONS assignments, with the shell's plain quoting; every other line
// is skipped. Any thread.
ZVXkbNames ZVParseKeyboardDefaults(std::string_view text);

// The system's names: the file at `path` (when readable), each name overridden by its
// XKB_DEFAULT_* variable when set. Any thread.
ZVXkbNames ZVSystemXkbNames(const std::string& path = "/etc/default/keyboard");
