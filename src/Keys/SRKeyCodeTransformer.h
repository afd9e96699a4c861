#pragma once
#include "ZVPrivate.h"  // library-internal

// Key code <-> key name, both ways, for bindings (a host's shortcut settings) and for
// SRStringForKeyCode. Class-wide tables, built once on first use and never freed:
//  - the fixed names (function keys, arrows, Space, Return...), used before any layout;
//  - the keypad keys, named "Pad " + their layout character (localised "Pad %@");
//  - the reverse table name -> key code, rebuilt from the current layout whenever
//    SRKeyboardLayoutDidChangeNotification is posted.
#include <memory>
#include <optional>
#include <string>

#include "Foundation/ZVValue.h"

class SRKeyboardLayout;

class SRKeyCodeTransformer {
  public:
    // A new transformer; all of them share the class-wide tables. Any thread.
    static std::shared_ptr<SRKeyCodeTransformer> transformer();

    // The one instance behind SRStringForKeyCode, made on first use, kept for the rest of
    // the process. Any thread.
    static SRKeyCodeTransformer& sharedTransformer();

    // The kind of value transformedValue gives: a string. Any thread.
    static ZVValue::Kind transformedValueClass() { return ZVValue::Kind::String; }
    // Names turn back into key codes. Any thread.
    static bool allowsReverseTransformation() { return true; }

    // A number (taken as a signed 16-bit key code) -> its name as a string value; a null
    // value for anything else, for a negative code, or for a key without a name. Any thread.
    ZVValue transformedValue(const ZVValue& value) const;

    // A name -> its key code as an integer value (the reverse table of the current layout);
    // a null value for a non-string or an unknown name. Any thread.
    ZVValue reverseTransformedValue(const ZVValue& value) const;

    // The typed forms of the two above. Any thread.
    std::optional<std::string> nameForKeyCode(short keyCode) const;
    std::optional<short> keyCodeForName(const std::string& name) const;

    // The name of `keyCode` on a given layout snapshot (the fixed and keypad rules
    // included). Any thread.
    static std::optional<std::string> nameForKeyCode(short keyCode, const SRKeyboardLayout& layout);

    // Whether `keyCode` is in the keypad list (named "Pad " + its character). Any thread.
    static bool isKeypadKey(short keyCode);

  private:
    SRKeyCodeTransformer() = default;

    // Registers, once, the rebuild of the reverse table on layout changes.
    static void initializeClass();

    // Rebuilds the reverse table from the current layout: key codes 0 to 127 in
    // increasing order, a later code with the same name replacing an earlier one.
    // Called when the layout changes, on the thread that changed it.
    static void regenerateStringToKeyCodeMapping();
};
