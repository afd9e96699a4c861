#include "Audio/ZVAudioDevice.h"

std::vector<std::string> ZVAudioDeviceList::names(const std::vector<ZVAudioDevice>& devices) {
    std::vector<std::string> list;
    auto add = [&list](std::string entry, bool first) {
        if (first)
            list.insert(list.begin(), std::move(entry));
        else
            list.push_back(std::move(entry));
    };
    for (const ZVAudioDevice& d : devices) {
        if (d.sources.size() >= 2) {
            for (size_t i = 0; i < d.sources.size(); ++i)
                add(d.name + ": " + d.sources[i], d.isDefault && int(i) == d.currentSource);
            continue;
        }
        add(d.name, d.isDefault);
    }
    return list;
}

uint32_t ZVAudioDeviceList::idForName(const std::vector<ZVAudioDevice>& devices,
                                      const std::string& name) {
    uint32_t id = 0;
    for (const ZVAudioDevice& d : devices)
        if (d.name == name) id = d.deviceId;
    return id;
}
