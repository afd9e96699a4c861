#pragma once
// The writing end of an input device for the evdev host input's tests: a FIFO in a folder
// the object watches, fed with the kernel's input_event records, and the probe that takes
// such a FIFO for a keyboard and mouse whose event times are CLOCK_MONOTONIC.
#include <fcntl.h>
#include <linux/input.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <string>

#include "Platform/Evdev/ZVEvdevHostInput.h"
#include "support/ZVTestSupport.h"

namespace zvtest {

// Options for `folder` with the kernel's probe.
inline ZVEvdevHostInput::Options folderOptions(const std::string& folder) {
    ZVEvdevHostInput::Options o;
    o.directory = folder;
    return o;
}

inline ZVEvdevHostInput::Options fifoOptions(const std::string& folder) {
    ZVEvdevHostInput::Options o = folderOptions(folder);
    o.probe = [](int) { return ZVEvdevHostInput::DeviceTraits{true, true, true, false}; };
    return o;
}

class FifoDevice {
  public:
    // Makes `folder`/`name` and opens it for writing once the object has opened it.
    FifoDevice(const std::string& folder, const std::string& name) {
        std::string path = folder + "/" + name;
        EXPECT_EQ(mkfifo(path.c_str(), 0600), 0) << path;
        EXPECT_TRUE(eventually([&] {
            _fd = open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);  // ENXIO: no reader
            return _fd >= 0;
        })) << "the object never opened "
            << path;
    }
    ~FifoDevice() { unplug(); }
    // One event, `age` before now on the monotonic clock.
    void send(uint16_t type, uint16_t code, int32_t value,
              std::chrono::microseconds age = std::chrono::microseconds(0)) {
        auto t = std::chrono::duration_cast<std::chrono::microseconds>(
                     std::chrono::steady_clock::now().time_since_epoch()) -
                 age;
        input_event e{};
        e.input_event_sec = t.count() / 1000000;
        e.input_event_usec = t.count() % 1000000;
        e.type = type;
        e.code = code;
        e.value = value;
        EXPECT_EQ(write(_fd, &e, sizeof e), ssize_t(sizeof e));
    }
    void key(uint16_t code, int32_t value) { send(EV_KEY, code, value); }
    void tap(uint16_t code) {
        key(code, 1);
        key(code, 0);
    }
    // The device goes away as an unplugged one does: its reader sees the end.
    void unplug() {
        if (_fd >= 0) close(_fd);
        _fd = -1;
    }

  private:
    int _fd = -1;
};

}  // namespace zvtest
