#include <gtest/gtest.h>

#include "ZorvanInternal.h"

TEST(ZVAudioDeviceList, DefaultFirstAndSourcesAsDeviceColonSource) {
    std::vector<ZVAudioDevice> devices = {
        {1, "Built-in", false, {}, -1},
        {2, "Headset", true, {"Microphone", "Line In"}, 1},  // the default, second source current
        {3, "Monitor of Speakers", false, {"Only"}, 0},      // one port: its name alone
        {4, "Dock", false, {"Front", "Rear"}, 0},
    };
    EXPECT_EQ(ZVAudioDeviceList::names(devices),
              (std::vector<std::string>{"Headset: Line In", "Built-in", "Headset: Microphone",
                                        "Monitor of Speakers", "Dock: Front", "Dock: Rear"}));
    devices[1].isDefault = false;
    devices[0].isDefault = true;
    EXPECT_EQ(ZVAudioDeviceList::names(devices).front(), "Built-in");
}

TEST(ZVAudioDeviceList, LookupMatchesPlainNamesExactlyAndTakesTheLast) {
    std::vector<ZVAudioDevice> devices = {
        {5, "Mic", false, {}, -1}, {6, "Headset", true, {"A", "B"}, 0}, {9, "Mic", false, {}, -1}};
    EXPECT_EQ(ZVAudioDeviceList::idForName(devices, "Mic"), 9u);
    EXPECT_EQ(ZVAudioDeviceList::idForName(devices, "Headset"), 6u);
    EXPECT_EQ(ZVAudioDeviceList::idForName(devices, "Headset: A"), 0u);
    EXPECT_EQ(ZVAudioDeviceList::idForName(devices, "mic"), 0u);
    EXPECT_EQ(ZVAudioDeviceList::idForName({}, "Mic"), 0u);
}
