#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

#include "Keys/SRKeyCodeTransformer.h"
#include "Keys/SRKeyNaming.h"
#include "Keys/ZVKeyCodeTable.h"
#include "SRKeyTestSupport.h"
#include "support/ZVTestSupport.h"

namespace {

class SRKeyNaming : public ::testing::Test {
  protected:
    void SetUp() override { SRResetKeyNamingForTest(); }
};

TEST_F(SRKeyNaming, LettersFollowTheLayoutAndAreUpperCase) {
    EXPECT_EQ(nameOf(kVK_ANSI_Y) + nameOf(kVK_ANSI_Z) + nameOf(kVK_ANSI_Semicolon), "YZ;");
    // German swaps Y and Z; "ö" and "ä" are upper-cased by Unicode, "ß" has no one-letter
    // capital; the dead keys ^ and ´ show their spacing character.
    SRKeyLayoutScope german("de");
    std::string names;
    for (auto code : {kVK_ANSI_Y, kVK_ANSI_Z, kVK_ANSI_Semicolon, kVK_ANSI_Quote, kVK_ANSI_Minus,
                      kVK_ANSI_Grave, kVK_ANSI_Equal})
        names += nameOf(code);
    EXPECT_EQ(names, "ZY\u00D6\u00C4\u00DF^\u00B4");
}

TEST_F(SRKeyNaming, GroupAndVariantChooseTheLayout) {
    for (auto [layout, variant, group, y] : {std::tuple{"us,de", "", 1u, "Z"},
                                             {"us,de", "", 0u, "Y"},
                                             {"de", "nodeadkeys", 0u, "Z"}}) {
        SRKeyLayoutScope scope(layout, variant, group);
        EXPECT_EQ(nameOf(kVK_ANSI_Y), y) << layout << " " << variant << " " << group;
    }
    // A layout xkbcommon does not know, or a group it lacks, leaves the current one alone.
    zvtest::LogCapture log;
    EXPECT_FALSE(SRKeyboardLayout::select("no-such-layout"));
    EXPECT_TRUE(log.contains("xkbcommon: ")) << "xkbcommon's reason goes to the log";
    EXPECT_FALSE(SRKeyboardLayout::select("us", "", 3));
    EXPECT_EQ(SRKeyboardLayout::current()->description(), "us");
    EXPECT_EQ(nameOf(kVK_ANSI_Y), "Y");
}

TEST_F(SRKeyNaming, KeypadKeysArePadAndTheirCharacter) {
    EXPECT_EQ(nameOf(kVK_ANSI_KeypadDecimal), "Pad .");
    SRKeyLayoutScope german("de");
    EXPECT_EQ(nameOf(kVK_ANSI_KeypadDecimal), "Pad ,");
    for (short code : {65, 67, 69, 75, 78, 81, 82, 83, 84, 85, 86, 87, 88, 89, 91, 92}) {
        EXPECT_TRUE(SRKeyCodeTransformer::isKeypadKey(code)) << code;
        EXPECT_EQ(nameOf(code).rfind("Pad ", 0), 0u) << code;
    }
    // Clear and Enter are fixed names, not keypad characters.
    EXPECT_FALSE(SRKeyCodeTransformer::isKeypadKey(kVK_ANSI_KeypadEnter));
    EXPECT_FALSE(SRKeyCodeTransformer::isKeypadKey(kVK_ANSI_KeypadClear));
}

TEST_F(SRKeyNaming, NoKeyAndKeysWithoutCharacterHaveNoName) {
    // F20 is not in the fixed table and has no character; 0x34 is no key.
    for (short code :
         std::initializer_list<short>{-1, -32768, kVK_Shift, kVK_Command, kVK_F20, 0x34, 200})
        EXPECT_FALSE(SRStringForKeyCode(code)) << code;
    // The combined strings print a missing name the way their format always did.
    EXPECT_EQ(SRStringForCocoaModifierFlagsAndKeyCode(kSRCocoaCommandKeyMask, -1), "\u2318(null)");
}

TEST_F(SRKeyNaming, FlagsConvertBothWays) {
    const std::pair<uint32_t, uint32_t> pairs[] = {
        {kSRCarbonCommandKeyMask, kSRCocoaCommandKeyMask},
        {kSRCarbonOptionKeyMask, kSRCocoaOptionKeyMask},
        {kSRCarbonControlKeyMask, kSRCocoaControlKeyMask},
        {kSRCarbonShiftKeyMask, kSRCocoaShiftKeyMask},
        {kSRFunctionKeyMask, kSRFunctionKeyMask},
    };
    uint32_t allCarbon = 0, allCocoa = 0;
    for (auto [carbon, cocoa] : pairs) {
        EXPECT_EQ(SRCarbonToCocoaFlags(carbon), cocoa) << std::hex << carbon;
        EXPECT_EQ(SRCocoaToCarbonFlags(cocoa), carbon) << std::hex << cocoa;
        allCarbon |= carbon, allCocoa |= cocoa;
    }
    // Together, too; other bits are dropped.
    EXPECT_EQ(SRCarbonToCocoaFlags(allCarbon), allCocoa);
    EXPECT_EQ(SRCocoaToCarbonFlags(allCocoa), allCarbon);
    EXPECT_EQ(SRCarbonToCocoaFlags(0x400 | 0x80 | 0x1), 0u);  // Caps Lock, button, active
    EXPECT_EQ(SRCocoaToCarbonFlags(0x10000 | 0x200000 | 0x1000000), 0u);
}

TEST_F(SRKeyNaming, CharacterUsesShiftAndOptionOnly) {
    EXPECT_EQ(SRCharacterForKeyCodeAndCocoaFlags(kVK_ANSI_2, kSRCocoaShiftKeyMask), "@");
    // Control and Command do not change the character.
    EXPECT_EQ(SRCharacterForKeyCodeAndCocoaFlags(kVK_ANSI_2, 0x140000), "2");
    // Keys without a character fall back to their name, or to nothing.
    EXPECT_EQ(SRCharacterForKeyCodeAndCocoaFlags(kVK_Space, 0), " ");
    EXPECT_EQ(SRCharacterForKeyCodeAndCocoaFlags(kVK_F1, kSRCocoaShiftKeyMask), "F1");
    EXPECT_FALSE(SRCharacterForKeyCodeAndCocoaFlags(kVK_Shift, 0));
    SRKeyLayoutScope german("de");
    EXPECT_EQ(SRCharacterForKeyCodeAndCocoaFlags(kVK_ANSI_2, kSRCocoaShiftKeyMask), "\"");
    EXPECT_EQ(SRCharacterForKeyCodeAndCocoaFlags(kVK_ANSI_Q, kSRCocoaOptionKeyMask), "@");
    EXPECT_EQ(SRCharacterForKeyCodeAndCarbonFlags(kVK_ANSI_E, kSRCarbonOptionKeyMask), "\u20AC");
    EXPECT_EQ(SRCharacterForKeyCodeAndCocoaFlags(kVK_ANSI_Quote, 0), "\u00C4");
    EXPECT_EQ(SRCharacterForKeyCodeAndCocoaFlags(kVK_ANSI_Equal, kSRCocoaShiftKeyMask), "`");
    EXPECT_EQ(SRCharacterForKeyCodeAndCocoaFlags(kVK_ANSI_Keypad5, 0), "5");
}

TEST_F(SRKeyNaming, TransformerWorksBothWaysAndFollowsTheLayout) {
    auto transformer = SRKeyCodeTransformer::transformer();
    EXPECT_EQ(transformer->transformedValue(ZVValue(49)), ZVValue("Space"));
    EXPECT_EQ(transformer->transformedValue(ZVValue(int64_t{0x10000 + kVK_ANSI_Z})),
              ZVValue("Z"));  // taken as a 16-bit key code
    EXPECT_TRUE(transformer->transformedValue(ZVValue(-1)).isNull());
    EXPECT_TRUE(transformer->transformedValue(ZVValue("6")).isNull());

    EXPECT_EQ(transformer->reverseTransformedValue(ZVValue("Z")), ZVValue(int{kVK_ANSI_Z}));
    EXPECT_TRUE(transformer->reverseTransformedValue(ZVValue(6)).isNull());
    EXPECT_TRUE(transformer->reverseTransformedValue(ZVValue("no key")).isNull());
    // The layout switch rebuilds the reverse table.
    SRKeyLayoutScope german("de");
    EXPECT_EQ(transformer->reverseTransformedValue(ZVValue("Z")), ZVValue(int{kVK_ANSI_Y}));
    // Every name of the layout (fixed names, "Pad ,", "\u00D6") leads back to its key,
    // except where two keys share one and the later code wins.
    for (short code = 0; code < 128; ++code) {
        std::optional<std::string> name = transformer->nameForKeyCode(code);
        if (!name) continue;
        std::optional<short> back = transformer->keyCodeForName(*name);
        ASSERT_TRUE(back) << code;
        EXPECT_GE(*back, code) << *name;
        EXPECT_EQ(transformer->nameForKeyCode(*back), name);
    }
}

TEST_F(SRKeyNaming, LocalisedWordsComeFromTheKeyNamesTable) {
    ASSERT_TRUE(SRKeyNamesTable::selectLanguage("de_DE"));  // falls back to de.lproj
    EXPECT_EQ(nameOf(kVK_Space), "Leertaste");
    EXPECT_EQ(nameOf(kVK_ANSI_Keypad0), "Ziffernblock 0");
    EXPECT_EQ(SRReadableStringForCocoaModifierFlagsAndKeyCode(0x1E0000, kVK_ANSI_A),
              "Befehl + Wahl + Control + Umschalt + A");
    // No table for the language: the keys are their own words.
    EXPECT_FALSE(SRKeyNamesTable::selectLanguage("fr"));
    EXPECT_EQ(nameOf(kVK_Space), "Space");
    EXPECT_EQ(SRKeyNamesTable::localizedFormat("Pad %@", "7"), "Pad 7");
}

TEST_F(SRKeyNaming, DamagedKeyNamesTableFallsBackToTheKeys) {
    zvtest::TempDir dir;
    std::filesystem::create_directories(dir.file("xx.lproj"));
    std::filesystem::create_directories(dir.file("yy.lproj"));
    std::ofstream(dir.file("xx.lproj/KeyNames.plist")) << "<plist><dict><key>Space";
    std::ofstream(dir.file("yy.lproj/KeyNames.plist"))
        << "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict>"
           "<key>Space</key><integer>5</integer><key>Pad %@</key><string>Block</string>"
           "</dict></plist>";
    zvtest::EnvScope resources("ZORVAN_RESOURCES", dir.path().c_str());
    zvtest::LogCapture log;
    EXPECT_FALSE(SRKeyNamesTable::selectLanguage("xx"));
    EXPECT_TRUE(log.contains("xx.lproj/KeyNames.plist: not a strings table"));
    EXPECT_EQ(nameOf(kVK_Space), "Space");
    // Entries that are not strings are left out; a format without "%@" is used as it is.
    EXPECT_TRUE(SRKeyNamesTable::selectLanguage("yy"));
    EXPECT_EQ(nameOf(kVK_Space), "Space");
    EXPECT_EQ(nameOf(kVK_ANSI_Keypad1), "Block");
    EXPECT_FALSE(SRKeyNamesTable::selectLanguage("../xx"));
}

TEST_F(SRKeyNaming, TheEnvironmentChoosesTheLayoutWithoutADisplay) {
    // Only this process's environment is touched: no display is asked.
    zvtest::EnvScope noDisplay("DISPLAY", nullptr);
    zvtest::EnvScope layout("XKB_DEFAULT_LAYOUT", "de");
    std::atomic<int> changes{0};
    int observer;
    ZVNotificationCenter::defaultCenter().addObserver(
        &observer, SRKeyboardLayoutDidChangeNotification, nullptr,
        [&](const ZVNotification&) { changes++; });
    SRKeyboardLayout::followSystem();
    EXPECT_EQ(SRKeyboardLayout::current()->description(), "environment");
    EXPECT_EQ(nameOf(kVK_ANSI_Y), "Z");
    unsetenv("XKB_DEFAULT_LAYOUT");
    SRKeyboardLayout::followSystem();
    EXPECT_EQ(nameOf(kVK_ANSI_Y), "Y");  // xkbcommon's default is "us"
    {
        SRKeyLayoutScope german("de");
        setenv("XKB_DEFAULT_LAYOUT", "no-such-layout", 1);
        zvtest::LogCapture log;
        SRKeyboardLayout::followSystem();
        EXPECT_TRUE(log.contains("using \"us\""));
        EXPECT_EQ(SRKeyboardLayout::current()->description(), "us");
        EXPECT_EQ(nameOf(kVK_ANSI_Y), "Y");
        unsetenv("XKB_DEFAULT_LAYOUT");
    }
    EXPECT_EQ(changes.load(), 5);
    ZVNotificationCenter::defaultCenter().removeObserver(&observer);
}

TEST_F(SRKeyNaming, ReadersKeepTheirSnapshotWhileTheLayoutSwitches) {
    std::atomic<bool> stop{false};
    std::atomic<int> bad{0};
    std::vector<std::thread> readers;
    auto transformer = SRKeyCodeTransformer::transformer();
    for (int i = 0; i < 3; ++i) {
        readers.emplace_back([&] {
            while (!stop.load(std::memory_order_relaxed)) {
                std::string y = nameOf(kVK_ANSI_Y);
                if (y != "Y" && y != "Z") bad++;
                std::optional<short> z = transformer->keyCodeForName("Z");
                if (z != kVK_ANSI_Y && z != kVK_ANSI_Z) bad++;
                if (SRStringForCocoaModifierFlagsAndKeyCode(0x100000, kVK_ANSI_Keypad0) !=
                    "\u2318Pad 0") {
                    bad++;
                }
            }
        });
    }
    for (int i = 0; i < 40; ++i) ASSERT_TRUE(SRKeyboardLayout::select(i % 2 ? "de" : "us"));
    stop = true;
    for (auto& t : readers) t.join();
    EXPECT_EQ(bad.load(), 0);
}

}  // namespace
