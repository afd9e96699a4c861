#include "Keys/ZVKeyCodeTable.h"

#include <linux/input-event-codes.h>

#include <array>

namespace {

using Entry = ZVKeyCodeTable::Entry;

// Sorted by Macintosh key code; one evdev key per Macintosh key.
constexpr Entry kTable[] = {
    {kVK_ANSI_A, KEY_A},
    {kVK_ANSI_S, KEY_S},
    {kVK_ANSI_D, KEY_D},
    {kVK_ANSI_F, KEY_F},
    {kVK_ANSI_H, KEY_H},
    {kVK_ANSI_G, KEY_G},
    {kVK_ANSI_Z, KEY_Z},
    {kVK_ANSI_X, KEY_X},
    {kVK_ANSI_C, KEY_C},
    {kVK_ANSI_V, KEY_V},
    {kVK_ISO_Section, KEY_102ND},
    {kVK_ANSI_B, KEY_B},
    {kVK_ANSI_Q, KEY_Q},
    {kVK_ANSI_W, KEY_W},
    {kVK_ANSI_E, KEY_E},
    {kVK_ANSI_R, KEY_R},
    {kVK_ANSI_Y, KEY_Y},
    {kVK_ANSI_T, KEY_T},
    {kVK_ANSI_1, KEY_1},
    {kVK_ANSI_2, KEY_2},
    {kVK_ANSI_3, KEY_3},
    {kVK_ANSI_4, KEY_4},
    {kVK_ANSI_6, KEY_6},
    {kVK_ANSI_5, KEY_5},
    {kVK_ANSI_Equal, KEY_EQUAL},
    {kVK_ANSI_9, KEY_9},
    {kVK_ANSI_7, KEY_7},
    {kVK_ANSI_Minus, KEY_MINUS},
    {kVK_ANSI_8, KEY_8},
    {kVK_ANSI_0, KEY_0},
    {kVK_ANSI_RightBracket, KEY_RIGHTBRACE},
    {kVK_ANSI_O, KEY_O},
    {kVK_ANSI_U, KEY_U},
    {kVK_ANSI_LeftBracket, KEY_LEFTBRACE},
    {kVK_ANSI_I, KEY_I},
    {kVK_ANSI_P, KEY_P},
    {kVK_Return, KEY_ENTER},
    {kVK_ANSI_L, KEY_L},
    {kVK_ANSI_J, KEY_J},
    {kVK_ANSI_Quote, KEY_APOSTROPHE},
    {kVK_ANSI_K, KEY_K},
    {kVK_ANSI_Semicolon, KEY_SEMICOLON},
    {kVK_ANSI_Backslash, KEY_BACKSLASH},
    {kVK_ANSI_Comma, KEY_COMMA},
    {kVK_ANSI_Slash, KEY_SLASH},
    {kVK_ANSI_N, KEY_N},
    {kVK_ANSI_M, KEY_M},
    {kVK_ANSI_Period, KEY_DOT},
    {kVK_Tab, KEY_TAB},
    {kVK_Space, KEY_SPACE},
    {kVK_ANSI_Grave, KEY_GRAVE},
    {kVK_Delete, KEY_BACKSPACE},
    {kVK_Escape, KEY_ESC},
    {kVK_RightCommand, KEY_RIGHTMETA},
    {kVK_Command, KEY_LEFTMETA},
    {kVK_Shift, KEY_LEFTSHIFT},
    {kVK_CapsLock, KEY_CAPSLOCK},
    {kVK_Option, KEY_LEFTALT},
    {kVK_Control, KEY_LEFTCTRL},
    {kVK_RightShift, KEY_RIGHTSHIFT},
    {kVK_RightOption, KEY_RIGHTALT},
    {kVK_RightControl, KEY_RIGHTCTRL},
    {kVK_Function, KEY_FN},
    {kVK_F17, KEY_F17},
    {kVK_ANSI_KeypadDecimal, KEY_KPDOT},
    {kVK_ANSI_KeypadMultiply, KEY_KPASTERISK},
    {kVK_ANSI_KeypadPlus, KEY_KPPLUS},
    {kVK_ANSI_KeypadClear, KEY_NUMLOCK},
    {kVK_VolumeUp, KEY_VOLUMEUP},
    {kVK_VolumeDown, KEY_VOLUMEDOWN},
    {kVK_Mute, KEY_MUTE},
    {kVK_ANSI_KeypadDivide, KEY_KPSLASH},
    {kVK_ANSI_KeypadEnter, KEY_KPENTER},
    {kVK_ANSI_KeypadMinus, KEY_KPMINUS},
    {kVK_F18, KEY_F18},
    {kVK_F19, KEY_F19},
    {kVK_ANSI_KeypadEquals, KEY_KPEQUAL},
    {kVK_ANSI_Keypad0, KEY_KP0},
    {kVK_ANSI_Keypad1, KEY_KP1},
    {kVK_ANSI_Keypad2, KEY_KP2},
    {kVK_ANSI_Keypad3, KEY_KP3},
    {kVK_ANSI_Keypad4, KEY_KP4},
    {kVK_ANSI_Keypad5, KEY_KP5},
    {kVK_ANSI_Keypad6, KEY_KP6},
    {kVK_ANSI_Keypad7, KEY_KP7},
    {kVK_F20, KEY_F20},
    {kVK_ANSI_Keypad8, KEY_KP8},
    {kVK_ANSI_Keypad9, KEY_KP9},
    {kVK_JIS_Yen, KEY_YEN},
    {kVK_JIS_Underscore, KEY_RO},
    {kVK_JIS_KeypadComma, KEY_KPJPCOMMA},
    {kVK_F5, KEY_F5},
    {kVK_F6, KEY_F6},
    {kVK_F7, KEY_F7},
    {kVK_F3, KEY_F3},
    {kVK_F8, KEY_F8},
    {kVK_F9, KEY_F9},
    // The Japanese Macintosh keyboard's two input-mode keys report HID Lang2 / Lang1.
    {kVK_JIS_Eisu, KEY_HANJA},
    {kVK_F11, KEY_F11},
    {kVK_JIS_Kana, KEY_HANGEUL},
    {kVK_F13, KEY_F13},
    {kVK_F16, KEY_F16},
    {kVK_F14, KEY_F14},
    {kVK_F10, KEY_F10},
    {kVK_ContextualMenu, KEY_COMPOSE},
    {kVK_F12, KEY_F12},
    {kVK_F15, KEY_F15},
    // Help sits where a PC keyboard has Insert, and a Macintosh reads Insert as Help.
    {kVK_Help, KEY_INSERT},
    {kVK_Home, KEY_HOME},
    {kVK_PageUp, KEY_PAGEUP},
    {kVK_ForwardDelete, KEY_DELETE},
    {kVK_F4, KEY_F4},
    {kVK_End, KEY_END},
    {kVK_F2, KEY_F2},
    {kVK_PageDown, KEY_PAGEDOWN},
    {kVK_F1, KEY_F1},
    {kVK_LeftArrow, KEY_LEFT},
    {kVK_RightArrow, KEY_RIGHT},
    {kVK_DownArrow, KEY_DOWN},
    {kVK_UpArrow, KEY_UP},
};

// PC-only keys, read as the Macintosh key in their place. Never produced by Mac -> evdev.
constexpr Entry kEvdevAliases[] = {
    {kVK_Help, KEY_HELP},
    {kVK_F13, KEY_SYSRQ},
    {kVK_F14, KEY_SCROLLLOCK},
    {kVK_F15, KEY_PAUSE},
    {kVK_ContextualMenu, KEY_MENU},
    {kVK_ANSI_KeypadClear, KEY_CLEAR},
    {kVK_JIS_Eisu, KEY_MUHENKAN},
    {kVK_JIS_Kana, KEY_HENKAN},
    {kVK_JIS_Kana, KEY_KATAKANAHIRAGANA},
    {kVK_ANSI_KeypadDecimal, KEY_KPCOMMA},
};

constexpr int kMacCodes = 128;
constexpr int kEvdevCodes = KEY_MAX + 1;
constexpr int kX11Offset = 8;  // X11 key code = evdev key code + 8
constexpr int kX11MaxKeyCode = 255;

struct Tables {
    std::array<int16_t, kMacCodes> macToEvdev{};
    std::array<int16_t, kEvdevCodes> evdevToMac{};
};

constexpr Tables makeTables() {
    Tables t;
    t.macToEvdev.fill(-1);
    t.evdevToMac.fill(-1);
    for (const Entry& e : kTable) {
        t.macToEvdev[e.macKeyCode] = static_cast<int16_t>(e.evdevKeyCode);
        t.evdevToMac[e.evdevKeyCode] = e.macKeyCode;
    }
    for (const Entry& e : kEvdevAliases) t.evdevToMac[e.evdevKeyCode] = e.macKeyCode;
    return t;
}

// Built by the compiler: no start-up order to worry about, read from any thread.
constexpr Tables kTables = makeTables();

}  // namespace

int ZVKeyCodeTable::evdevKeyCodeForMacKeyCode(int macKeyCode) {
    if (macKeyCode < 0 || macKeyCode >= kMacCodes) return -1;
    return kTables.macToEvdev[macKeyCode];
}

int ZVKeyCodeTable::macKeyCodeForEvdevKeyCode(int evdevKeyCode) {
    if (evdevKeyCode < 0 || evdevKeyCode >= kEvdevCodes) return -1;
    return kTables.evdevToMac[evdevKeyCode];
}

int ZVKeyCodeTable::x11KeyCodeForMacKeyCode(int macKeyCode) {
    int evdev = evdevKeyCodeForMacKeyCode(macKeyCode);
    if (evdev < 0 || evdev + kX11Offset > kX11MaxKeyCode) return -1;
    return evdev + kX11Offset;
}

int ZVKeyCodeTable::macKeyCodeForX11KeyCode(int x11KeyCode) {
    if (x11KeyCode < kX11Offset || x11KeyCode > kX11MaxKeyCode) return -1;
    return macKeyCodeForEvdevKeyCode(x11KeyCode - kX11Offset);
}

std::span<const ZVKeyCodeTable::Entry> ZVKeyCodeTable::entries() {
    return kTable;
}
