#include "Keys/SRKeyboardLayout.h"

#include <xkbcommon/xkbcommon.h>

#include <atomic>
#include <mutex>
#include <utility>

#include "Foundation/ZVLog.h"
#include "Foundation/ZVMutex.h"
#include "Foundation/ZVNotificationCenter.h"
#include "Keys/SRKeymapSource.h"
#include "Keys/ZVKeyCodeTable.h"
#include "Keys/ZVXkbContext.h"

namespace {

constexpr uint32_t kX11KeyCodeOffset = 8;  // xkbcommon's evdev rules: key code = evdev + 8
constexpr uint32_t kRealModsMask = 0xFF;   // Shift, Lock, Control, Mod1 ... Mod5

// The spacing character a dead key shows on its key cap; combining marks where Unicode
// has no spacing form.
struct DeadKey {
    xkb_keysym_t sym;
    char32_t spacing;
};
constexpr DeadKey kDeadKeys[] = {
    {XKB_KEY_dead_grave, U'`'},
    {XKB_KEY_dead_acute, U'\u00B4'},
    {XKB_KEY_dead_circumflex, U'^'},
    {XKB_KEY_dead_tilde, U'~'},
    {XKB_KEY_dead_macron, U'\u00AF'},
    {XKB_KEY_dead_breve, U'\u02D8'},
    {XKB_KEY_dead_abovedot, U'\u02D9'},
    {XKB_KEY_dead_diaeresis, U'\u00A8'},
    {XKB_KEY_dead_abovering, U'\u02DA'},
    {XKB_KEY_dead_doubleacute, U'\u02DD'},
    {XKB_KEY_dead_caron, U'\u02C7'},
    {XKB_KEY_dead_cedilla, U'\u00B8'},
    {XKB_KEY_dead_ogonek, U'\u02DB'},
    {XKB_KEY_dead_iota, U'\u037A'},
    {XKB_KEY_dead_voiced_sound, U'\u309B'},
    {XKB_KEY_dead_semivoiced_sound, U'\u309C'},
    {XKB_KEY_dead_belowdot, U'\u0323'},
    {XKB_KEY_dead_hook, U'\u0309'},
    {XKB_KEY_dead_horn, U'\u031B'},
    {XKB_KEY_dead_stroke, U'/'},
    {XKB_KEY_dead_abovecomma, U'\u1FBF'},
    {XKB_KEY_dead_abovereversedcomma, U'\u1FFE'},
    {XKB_KEY_dead_doublegrave, U'\u02F5'},
    {XKB_KEY_dead_belowring, U'\u02F3'},
    {XKB_KEY_dead_belowmacron, U'\u02CD'},
    {XKB_KEY_dead_belowcircumflex, U'\uA788'},
    {XKB_KEY_dead_belowtilde, U'\u02F7'},
    {XKB_KEY_dead_belowbreve, U'\u032E'},
    {XKB_KEY_dead_belowdiaeresis, U'\u0324'},
    {XKB_KEY_dead_invertedbreve, U'\u0311'},
    {XKB_KEY_dead_belowcomma, U','},
    {XKB_KEY_dead_currency, U'\u00A4'},
    {XKB_KEY_dead_lowline, U'_'},
    {XKB_KEY_dead_aboveverticalline, U'\u02C8'},
    {XKB_KEY_dead_belowverticalline, U'\u02CC'},
    {XKB_KEY_dead_longsolidusoverlay, U'\u0338'},
    {XKB_KEY_dead_a, U'a'},
    {XKB_KEY_dead_A, U'A'},
    {XKB_KEY_dead_e, U'e'},
    {XKB_KEY_dead_E, U'E'},
    {XKB_KEY_dead_i, U'i'},
    {XKB_KEY_dead_I, U'I'},
    {XKB_KEY_dead_o, U'o'},
    {XKB_KEY_dead_O, U'O'},
    {XKB_KEY_dead_u, U'u'},
    {XKB_KEY_dead_U, U'U'},
    {XKB_KEY_dead_small_schwa, U'\u0259'},
    {XKB_KEY_dead_capital_schwa, U'\u018F'},
};

std::optional<char32_t> characterOfKeysym(xkb_keysym_t sym) {
    if (uint32_t c = xkb_keysym_to_utf32(sym); c != 0) return static_cast<char32_t>(c);
    for (const DeadKey& d : kDeadKeys) {
        if (d.sym == sym) return d.spacing;
    }
    return std::nullopt;
}

// The real modifiers a virtual modifier ("LevelThree", "NumLock") stands for in this
// keymap. Uses a throw-away state: called only while the snapshot is built, on one thread.
uint32_t realMaskOf(xkb_keymap* keymap, const char* name) {
    xkb_mod_index_t index = xkb_keymap_mod_get_index(keymap, name);
    if (index == XKB_MOD_INVALID) return 0;
    xkb_state* state = xkb_state_new(keymap);
    if (!state) return 0;
    xkb_state_update_mask(state, 1u << index, 0, 0, 0, 0, 0);
    uint32_t mask = xkb_state_serialize_mods(state, XKB_STATE_MODS_EFFECTIVE) & kRealModsMask;
    xkb_state_unref(state);
    return mask;
}

// Where the layout comes from and the snapshot in effect.
struct LayoutRegistry {
    ZVMutex lock;  // guards the fields below
    std::shared_ptr<const SRKeyboardLayout> current ZV_GUARDED_BY(lock);
    bool pinned ZV_GUARDED_BY(lock) = false;
    // Set once the system's layout was first read: whether the X server's watcher runs.
    bool monitorRunning ZV_GUARDED_BY(lock) = false;
    std::once_flag systemRead;
};

// The first keymap source offered (see offerKeymapSource); nullptr until then.
std::atomic<const SRKeymapSource*> gKeymapSource{nullptr};
std::atomic<uint64_t> gSystemKeymapsSeen{0};

LayoutRegistry& registry() {
    // Never destroyed: the X server's watcher may still deliver a keymap while the process
    // exits.
    static LayoutRegistry* r = new LayoutRegistry;
    return *r;
}

std::shared_ptr<const SRKeyboardLayout> environmentLayout() {
    // No XKB_CONTEXT_NO_ENVIRONMENT_NAMES: empty names are filled from XKB_DEFAULT_RULES,
    // _MODEL, _LAYOUT, _VARIANT, _OPTIONS, then from xkbcommon's defaults ("us").
    xkb_context* context = ZVNewXkbContext(XKB_CONTEXT_NO_FLAGS);
    if (!context) return SRKeyboardLayout::adoptKeymap(nullptr, 0, "none");
    xkb_keymap* keymap = xkb_keymap_new_from_names(context, nullptr, XKB_KEYMAP_COMPILE_NO_FLAGS);
    xkb_context_unref(context);  // the keymap keeps its own reference
    if (keymap) return SRKeyboardLayout::adoptKeymap(keymap, 0, "environment");
    ZVLog("Could not build the keyboard layout of the XKB_DEFAULT_* environment; using \"us\"");
    std::shared_ptr<const SRKeyboardLayout> us = SRKeyboardLayout::fromNames("us");
    return us ? us : SRKeyboardLayout::adoptKeymap(nullptr, 0, "none");
}

void postChange() {
    ZVNotificationCenter::defaultCenter().post(SRKeyboardLayoutDidChangeNotification, nullptr);
}

}  // namespace

SRKeyboardLayout::SRKeyboardLayout(xkb_keymap* keymap, uint32_t group, std::string description)
    : _keymap(keymap), _group(group), _description(std::move(description)) {
    if (_keymap) {
        _shiftMask = realMaskOf(_keymap, XKB_MOD_NAME_SHIFT);
        _levelThreeMask = realMaskOf(_keymap, "LevelThree");
        _numLockMask = realMaskOf(_keymap, "NumLock");
        // Keymaps that predate virtual modifiers name the real ones directly.
        if (!_levelThreeMask) _levelThreeMask = realMaskOf(_keymap, "Mod5");
        if (!_numLockMask) _numLockMask = realMaskOf(_keymap, XKB_MOD_NAME_NUM);
    }
}

SRKeyboardLayout::~SRKeyboardLayout() {
    if (_keymap) xkb_keymap_unref(_keymap);
}

std::shared_ptr<const SRKeyboardLayout> SRKeyboardLayout::adoptKeymap(xkb_keymap* keymap,
                                                                      uint32_t group,
                                                                      std::string description) {
    return std::shared_ptr<const SRKeyboardLayout>(
        new SRKeyboardLayout(keymap, group, std::move(description)));
}

std::shared_ptr<const SRKeyboardLayout> SRKeyboardLayout::fromNames(std::string_view layout,
                                                                    std::string_view variant,
                                                                    uint32_t group) {
    xkb_context* context = ZVNewXkbContext(XKB_CONTEXT_NO_ENVIRONMENT_NAMES);
    if (!context) return nullptr;
    std::string layoutName(layout), variantName(variant);
    xkb_rule_names names{};
    names.layout = layoutName.c_str();
    names.variant = variantName.empty() ? nullptr : variantName.c_str();
    xkb_keymap* keymap = xkb_keymap_new_from_names(context, &names, XKB_KEYMAP_COMPILE_NO_FLAGS);
    xkb_context_unref(context);
    if (!keymap) return nullptr;
    if (group >= xkb_keymap_num_layouts(keymap)) {
        xkb_keymap_unref(keymap);
        return nullptr;
    }
    std::string description = layoutName;
    if (!variantName.empty()) description += "(" + variantName + ")";
    return adoptKeymap(keymap, group, std::move(description));
}

void SRKeyboardLayout::installSystemKeymap(xkb_keymap* keymap, uint32_t group) {
    std::shared_ptr<const SRKeyboardLayout> layout = adoptKeymap(keymap, group, "X server");
    bool taken = false;
    {
        LayoutRegistry& r = registry();
        ZVLockGuard<ZVMutex> guard(r.lock);
        taken = !r.pinned;
        if (taken) r.current = std::move(layout);  // the old one lives on in its readers' hands
    }
    if (taken) postChange();
    gSystemKeymapsSeen.fetch_add(1);
}

uint64_t SRKeyboardLayout::systemKeymapsSeen() {
    return gSystemKeymapsSeen.load();
}

bool SRKeyboardLayout::installSystemLayout(bool firstRead) {
    LayoutRegistry& r = registry();
    bool monitorRunning;
    {
        ZVLockGuard<ZVMutex> guard(r.lock);
        monitorRunning = r.monitorRunning;
    }
    // The display server's keymap arrives through installSystemKeymap, on this thread,
    // when the platform's source answers; otherwise the environment decides.
    const SRKeymapSource* source = gKeymapSource.load();
    if (firstRead) {
        monitorRunning = source && source->start(&SRKeyboardLayout::installSystemKeymap);
        ZVLockGuard<ZVMutex> guard(r.lock);
        r.monitorRunning = monitorRunning;
    }
    if (monitorRunning && (firstRead || (source && source->refresh()))) return false;
    std::shared_ptr<const SRKeyboardLayout> env = environmentLayout();
    {
        ZVLockGuard<ZVMutex> guard(r.lock);
        if (r.pinned) return false;  // a selection made meanwhile wins
        r.current = std::move(env);
    }
    return true;
}

void SRKeyboardLayout::offerKeymapSource(const SRKeymapSource* source) {
    const SRKeymapSource* none = nullptr;
    gKeymapSource.compare_exchange_strong(none, source);
}

std::shared_ptr<const SRKeyboardLayout> SRKeyboardLayout::current() {
    LayoutRegistry& r = registry();
    {
        ZVLockGuard<ZVMutex> guard(r.lock);
        if (r.current) return r.current;
    }
    // Concurrent first callers wait here for the one that reads the system's layout.
    std::call_once(r.systemRead, [] { installSystemLayout(true); });
    ZVLockGuard<ZVMutex> guard(r.lock);
    if (!r.current) r.current = adoptKeymap(nullptr, 0, "none");
    return r.current;
}

bool SRKeyboardLayout::select(std::string_view layout, std::string_view variant, uint32_t group) {
    std::shared_ptr<const SRKeyboardLayout> snapshot = fromNames(layout, variant, group);
    if (!snapshot) return false;
    {
        LayoutRegistry& r = registry();
        ZVLockGuard<ZVMutex> guard(r.lock);
        r.pinned = true;
        r.current = std::move(snapshot);
    }
    postChange();
    return true;
}

void SRKeyboardLayout::followSystem() {
    LayoutRegistry& r = registry();
    {
        ZVLockGuard<ZVMutex> guard(r.lock);
        r.pinned = false;
    }
    bool firstRead = false;
    bool fromEnvironment = false;
    std::call_once(r.systemRead, [&] {
        firstRead = true;
        fromEnvironment = installSystemLayout(true);
    });
    if (!firstRead) fromEnvironment = installSystemLayout(false);
    if (fromEnvironment) postChange();
}

std::optional<char32_t> SRKeyboardLayout::characterForKeyCode(int macKeyCode, bool shift,
                                                              bool option, bool numLock) const {
    if (!_keymap) return std::nullopt;
    int evdev = ZVKeyCodeTable::evdevKeyCodeForMacKeyCode(macKeyCode);
    if (evdev < 0) return std::nullopt;
    xkb_keycode_t key = static_cast<xkb_keycode_t>(evdev) + kX11KeyCodeOffset;
    if (key < xkb_keymap_min_keycode(_keymap) || key > xkb_keymap_max_keycode(_keymap)) {
        return std::nullopt;
    }
    xkb_layout_index_t layouts = xkb_keymap_num_layouts_for_key(_keymap, key);
    if (layouts == 0) return std::nullopt;
    // A key with fewer groups than the keymap wraps around, as XKB does by default.
    xkb_layout_index_t layout = _group % layouts;

    // The level whose modifier combination matches the wanted modifiers, restricted to the
    // modifiers the key's type looks at; level 1 when none does. The keymap is only read
    // here (no xkb_state), so any number of threads may share the snapshot.
    uint32_t wanted =
        (shift ? _shiftMask : 0) | (option ? _levelThreeMask : 0) | (numLock ? _numLockMask : 0);
    xkb_level_index_t levels = xkb_keymap_num_levels_for_key(_keymap, key, layout);
    constexpr size_t kMaxMasks = 16;
    xkb_mod_mask_t masks[kMaxMasks];
    uint32_t typeMods = 0;
    for (xkb_level_index_t level = 0; level < levels; ++level) {
        size_t n = xkb_keymap_key_get_mods_for_level(_keymap, key, layout, level, masks, kMaxMasks);
        for (size_t i = 0; i < n; ++i) typeMods |= masks[i];
    }
    uint32_t target = wanted & typeMods;
    xkb_level_index_t chosen = 0;
    for (xkb_level_index_t level = 0; level < levels; ++level) {
        size_t n = xkb_keymap_key_get_mods_for_level(_keymap, key, layout, level, masks, kMaxMasks);
        bool match = false;
        for (size_t i = 0; i < n && !match; ++i) match = masks[i] == target;
        if (match) {
            chosen = level;
            break;
        }
    }
    const xkb_keysym_t* syms = nullptr;
    int count = xkb_keymap_key_get_syms_by_level(_keymap, key, layout, chosen, &syms);
    if (count < 1 || !syms) return std::nullopt;
    return characterOfKeysym(syms[0]);
}
