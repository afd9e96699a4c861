#include "Keys/SRKeyCodeTransformer.h"

#include <glib.h>

#include <array>
#include <unordered_map>

#include "Foundation/ZVMutex.h"
#include "Foundation/ZVNotificationCenter.h"
#include "Keys/SRKeyNamesTable.h"
#include "Keys/SRKeyboardLayout.h"

namespace {

constexpr int kKeyCodes = 128;  // virtual key codes 0 to 127

struct FixedName {
    short keyCode;
    const char* name;
    bool localised;  // looked up in the KeyNames table when named
};

// Named before any layout is consulted.
constexpr FixedName kFixedNames[] = {
    {122, "F1", false},     {120, "F2", false},  {99, "F3", false},   {118, "F4", false},
    {96, "F5", false},      {97, "F6", false},   {98, "F7", false},   {100, "F8", false},
    {101, "F9", false},     {109, "F10", false}, {103, "F11", false}, {111, "F12", false},
    {105, "F13", false},    {107, "F14", false}, {113, "F15", false}, {106, "F16", false},
    {64, "F17", false},     {79, "F18", false},  {80, "F19", false},  {49, "Space", true},
    {51, "\u232B", false},   // erase to the left
    {117, "\u2326", false},  // erase to the right
    {71, "\u2327", false},   // clear
    {123, "\u2190", false},  // left arrow
    {124, "\u2192", false},  // right arrow
    {126, "\u2191", false},  // up arrow
    {125, "\u2193", false},  // down arrow
    {119, "\u2198", false},  // end
    {115, "\u2196", false},  // home
    {53, "\u238B", false},   // escape
    {121, "\u21DF", false},  // page down
    {116, "\u21DE", false},  // page up
    {36, "\u21A9", false},   // return
    {76, "\u2305", false},   // enter
    {48, "\u21E5", false},   // tab
    {114, "?", false},       // help
};

constexpr short kKeypadKeys[] = {65, 67, 69, 75, 78, 81, 82, 83, 84, 85, 86, 87, 88, 89, 91, 92};

struct ClassTables {
    std::array<const FixedName*, kKeyCodes> fixed{};
    std::array<bool, kKeyCodes> keypad{};

    ZVMutex reverseLock;  // guards reverse and reverseBuilt
    std::unordered_map<std::string, short> reverse ZV_GUARDED_BY(reverseLock);
    bool reverseBuilt ZV_GUARDED_BY(reverseLock) = false;
};

// The fixed and keypad tables are read-only once built here.
ClassTables& tables() {
    static ClassTables* t = [] {
        auto* tables = new ClassTables;  // never freed: any thread may use them at exit
        for (const FixedName& f : kFixedNames) tables->fixed[f.keyCode] = &f;
        for (short k : kKeypadKeys) tables->keypad[k] = true;
        return tables;
    }();
    return *t;
}

std::string utf8Of(char32_t c) {
    char buffer[8];
    int n = g_unichar_to_utf8(static_cast<gunichar>(c), buffer);
    return std::string(buffer, static_cast<size_t>(n));
}

}  // namespace

void SRKeyCodeTransformer::initializeClass() {
    // Once per process: the registration that keeps the reverse table following the
    // layout. The observer runs on the thread that changed the layout.
    static const bool registered = [] {
        static int observer;
        ZVNotificationCenter::defaultCenter().addObserver(
            &observer, SRKeyboardLayoutDidChangeNotification, nullptr,
            [](const ZVNotification&) { regenerateStringToKeyCodeMapping(); });
        return true;
    }();
    (void)registered;
}

std::shared_ptr<SRKeyCodeTransformer> SRKeyCodeTransformer::transformer() {
    initializeClass();
    return std::shared_ptr<SRKeyCodeTransformer>(new SRKeyCodeTransformer);
}

SRKeyCodeTransformer& SRKeyCodeTransformer::sharedTransformer() {
    initializeClass();
    static SRKeyCodeTransformer* shared = new SRKeyCodeTransformer;  // lives for the process
    return *shared;
}

bool SRKeyCodeTransformer::isKeypadKey(short keyCode) {
    return keyCode >= 0 && keyCode < kKeyCodes && tables().keypad[keyCode];
}

std::optional<std::string> SRKeyCodeTransformer::nameForKeyCode(short keyCode,
                                                                const SRKeyboardLayout& layout) {
    if (keyCode < 0) return std::nullopt;
    const ClassTables& t = tables();
    bool keypad = false;
    if (keyCode < kKeyCodes) {
        if (const FixedName* f = t.fixed[keyCode]) {
            return f->localised ? SRKeyNamesTable::localizedString(f->name) : f->name;
        }
        keypad = t.keypad[keyCode];
    }
    // Keypad keys are read with Num Lock on: a keypad shows its digits whatever the lock.
    std::optional<char32_t> c = layout.characterForKeyCode(keyCode, false, false, keypad);
    if (!c) return std::nullopt;
    // Upper-cased by Unicode's tables, not the C locale's: "Ä", not "ä".
    std::string name = utf8Of(g_unichar_toupper(static_cast<gunichar>(*c)));
    return keypad ? SRKeyNamesTable::localizedFormat("Pad %@", name) : name;
}

std::optional<std::string> SRKeyCodeTransformer::nameForKeyCode(short keyCode) const {
    if (keyCode < 0) return std::nullopt;  // without asking for a layout
    return nameForKeyCode(keyCode, *SRKeyboardLayout::current());
}

ZVValue SRKeyCodeTransformer::transformedValue(const ZVValue& value) const {
    if (!value.isNumber()) return {};
    std::optional<std::string> name = nameForKeyCode(static_cast<short>(value.intValue()));
    return name ? ZVValue(std::move(*name)) : ZVValue();
}

void SRKeyCodeTransformer::regenerateStringToKeyCodeMapping() {
    // The snapshot is taken before the table's lock: reading the system's layout for the
    // first time may post a change, whose observer lands here again on this thread.
    std::shared_ptr<const SRKeyboardLayout> layout = SRKeyboardLayout::current();
    std::unordered_map<std::string, short> reverse;
    for (short code = 0; code < kKeyCodes; ++code) {
        std::optional<std::string> name = nameForKeyCode(code, *layout);
        if (name && !name->empty()) reverse[*name] = code;
    }
    ClassTables& t = tables();
    ZVLockGuard<ZVMutex> guard(t.reverseLock);
    t.reverse = std::move(reverse);
    t.reverseBuilt = true;
}

std::optional<short> SRKeyCodeTransformer::keyCodeForName(const std::string& name) const {
    ClassTables& t = tables();
    bool built;
    {
        ZVLockGuard<ZVMutex> guard(t.reverseLock);
        built = t.reverseBuilt;
    }
    if (!built) regenerateStringToKeyCodeMapping();
    ZVLockGuard<ZVMutex> guard(t.reverseLock);
    if (auto it = t.reverse.find(name); it != t.reverse.end()) return it->second;
    return std::nullopt;
}

ZVValue SRKeyCodeTransformer::reverseTransformedValue(const ZVValue& value) const {
    if (value.kind() != ZVValue::Kind::String) return {};
    std::optional<short> code = keyCodeForName(value.stringValue());
    return code ? ZVValue(static_cast<int>(*code)) : ZVValue();
}
