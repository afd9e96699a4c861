#pragma once
#include "ZVPrivate.h"  // library-internal

// The keyboard layout that key names follow: an immutable snapshot of an xkbcommon keymap
// and the layout group in effect. A layout change builds a new snapshot and swaps it in;
// readers keep the snapshot they took (a shared_ptr) for as long as they use it, so a
// name is never made half from one layout and half from the next.
//
// Where the layout comes from, unless a host or a test selected one: the X server's
// keymap and group (followed while it runs) when a display is reachable, else the
// XKB_DEFAULT_* environment, else "us".
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

struct xkb_keymap;

// Posted (object nullptr, no userInfo) on the thread that changed the layout, after the new
// snapshot is current: the X server's keymap watcher, or the caller of select/followSystem.
inline constexpr std::string_view SRKeyboardLayoutDidChangeNotification =
    "SRKeyboardLayoutDidChangeNotification";

class SRKeyboardLayout {
  public:
    // The snapshot in effect; never nullptr (a snapshot without a keymap names no layout
    // key). The first call without a selection reads the system's layout. Any thread.
    static std::shared_ptr<const SRKeyboardLayout> current();

    // Pins the layout to XKB names, ignoring the display and the environment: layout "de",
    // "us,de" with group 1, variant "nodeadkeys"... Returns false, leaving the current
    // layout alone, when xkbcommon cannot build that keymap. Any thread.
    static bool select(std::string_view layout, std::string_view variant = {}, uint32_t group = 0);

    // Drops a selection and reads the system's layout again (display, environment, "us").
    // Any thread.
    static void followSystem();

    // Offers where the system's keymap comes from (the display server's, from the platform
    // services of a stage that names keys). The first offer stands: the layout is one per
    // process, as the display server's keymap is, and its watcher starts once. Without an
    // offer before the first read, the environment decides. Not owned; it must live for
    // the process. Any thread.
    static void offerKeymapSource(const struct SRKeymapSource* source);

    // A snapshot of the given XKB names (nullptr when they do not compile); not made
    // current. Any thread.
    static std::shared_ptr<const SRKeyboardLayout> fromNames(std::string_view layout,
                                                             std::string_view variant = {},
                                                             uint32_t group = 0);

    // A snapshot that takes over `keymap` (the caller's reference; the keymap's context must
    // be its own, as xkbcommon's reference counts are not atomic). Any thread.
    static std::shared_ptr<const SRKeyboardLayout> adoptKeymap(xkb_keymap* keymap, uint32_t group,
                                                               std::string description);

    // The character this layout gives the Macintosh key `macKeyCode` with the given
    // modifiers: Shift, Option (the third level, AltGr) and Num Lock (for keypad keys).
    // Dead keys give their spacing character ("^", "´"). nullopt for a key the layout
    // leaves without a character (modifier keys, function keys) or that has no position.
    // Any thread.
    std::optional<char32_t> characterForKeyCode(int macKeyCode, bool shift, bool option,
                                                bool numLock) const;

    // Says where the snapshot came from ("de", "X server", ...), for logs. Any thread.
    const std::string& description() const { return _description; }
    // Whether a keymap stands behind the snapshot; the group of it that is in effect.
    // Any thread.
    bool hasKeymap() const { return _keymap != nullptr; }
    uint32_t group() const { return _group; }

    // Test hook: how many keymaps the X server's watcher has handed over so far, taken or
    // left for a selection; counted once each is dealt with. Any thread.
    static uint64_t systemKeymapsSeen();

    ~SRKeyboardLayout();
    SRKeyboardLayout(const SRKeyboardLayout&) = delete;
    SRKeyboardLayout& operator=(const SRKeyboardLayout&) = delete;

  private:
    SRKeyboardLayout(xkb_keymap* keymap, uint32_t group, std::string description);

    // Makes a keymap of the X server current (and posts the change) unless a selection is
    // in force; takes over the caller's reference. Any thread (the watcher's, mostly).
    static void installSystemKeymap(xkb_keymap* keymap, uint32_t group);
    // Reads the system's layout (first read: starts the X server's watcher) and makes it
    // current. True when the environment's layout was made current (the caller posts the
    // change); the X server's keymap is posted by installSystemKeymap.
    static bool installSystemLayout(bool firstRead);

    xkb_keymap* _keymap;  // owned: the only reference, released by the destructor
    uint32_t _group;
    std::string _description;
    // Real modifier masks, resolved once from the virtual modifiers of the keymap.
    uint32_t _shiftMask = 0;
    uint32_t _levelThreeMask = 0;
    uint32_t _numLockMask = 0;
};
