#pragma once
// Every key-naming test starts from the same ground: the "us" layout chosen through the
// key-naming API (never the display the tests happen to run under) and the keys' own
// English words.
#include <gtest/gtest.h>

#include "Keys/SRKeyNamesTable.h"
#include "Keys/SRKeyNaming.h"
#include "Keys/SRKeyboardLayout.h"

class SRKeyLayoutScope {
  public:
    explicit SRKeyLayoutScope(const char* layout, const char* variant = "", uint32_t group = 0) {
        EXPECT_TRUE(SRKeyboardLayout::select(layout, variant, group)) << layout;
    }
    ~SRKeyLayoutScope() { SRKeyboardLayout::select("us"); }
};

// A key's name as the strip shows it; "<nil>" for none.
inline std::string nameOf(short code) {
    return SRStringForKeyCode(code).value_or("<nil>");
}

inline void SRResetKeyNamingForTest() {
    ASSERT_TRUE(SRKeyboardLayout::select("us"));
    SRKeyNamesTable::selectLanguage("en");
}
