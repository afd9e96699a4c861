#include "Platform/Evdev/ZVEvdevHostInput.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/input.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <ctime>
#include <utility>

#include "Foundation/ZVLog.h"
#include "Keys/ZVKeyCodeTable.h"

namespace {
using Clock = ZVHostInputTracker::Clock;

constexpr size_t kLongBits = sizeof(unsigned long) * CHAR_BIT;
constexpr size_t longsFor(size_t bits) {
    return bits / kLongBits + 1;
}
bool testBit(const unsigned long* bits, size_t bit) {
    return (bits[bit / kLongBits] >> (bit % kLongBits)) & 1;
}

bool isEventDevice(const std::string& name) {
    return name.rfind("event", 0) == 0;
}

// The kZVMouse... bit of a mouse button code; 0 for codes that are not mouse buttons.
int64_t buttonBit(uint16_t code) {
    if (code < BTN_MOUSE || code > BTN_TASK) return 0;
    return code == BTN_LEFT    ? kZVMouseLeftButton
           : code == BTN_RIGHT ? kZVMouseRightButton
                               : kZVMouseOtherButton;
}
}  // namespace

std::optional<ZVEvdevHostInput::DeviceTraits> ZVEvdevHostInput::probeKernelDevice(int fd) {
    unsigned long events[longsFor(EV_MAX)] = {};
    unsigned long keys[longsFor(KEY_MAX)] = {};
    if (ioctl(fd, EVIOCGBIT(0, sizeof events), events) < 0 || !testBit(events, EV_KEY) ||
        ioctl(fd, EVIOCGBIT(EV_KEY, sizeof keys), keys) < 0)
        return std::nullopt;
    DeviceTraits traits;
    // Power buttons, lid switches and remote controls have keys too, but no letters.
    traits.keys = testBit(keys, KEY_A) && testBit(keys, KEY_SPACE);
    traits.buttons = testBit(keys, BTN_LEFT);
    if (!traits.keys && !traits.buttons) return std::nullopt;
    // The double click and the repeat compare event times with the steady clock.
    int clock = CLOCK_MONOTONIC;
    traits.monotonicTimes = ioctl(fd, EVIOCSCLOCKID, &clock) == 0;
    unsigned long leds[longsFor(LED_MAX)] = {};
    if (traits.keys && ioctl(fd, EVIOCGLED(sizeof leds), leds) >= 0)
        traits.capsLock = testBit(leds, LED_CAPSL);
    return traits;
}

ZVEvdevHostInput::ZVEvdevHostInput(Options options) : _options(std::move(options)) {}

std::shared_ptr<ZVEvdevHostInput> ZVEvdevHostInput::create(const Options& options,
                                                           std::string* notice) {
    std::shared_ptr<ZVEvdevHostInput> input(new ZVEvdevHostInput(options));
    auto refuse = [&](const std::string& why) -> std::shared_ptr<ZVEvdevHostInput> {
        std::string line = "keys and clicks are not recorded: " + why;
        ZVLog("%s", line.c_str());
        if (notice) *notice = line;
        return nullptr;
    };
    const std::string& folder = input->_options.directory;
    // The watch comes before the scan, so a device that appears meanwhile is not missed.
    input->_inotifyFd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    DIR* dir = nullptr;
    if (input->_inotifyFd < 0 ||
        inotify_add_watch(input->_inotifyFd, folder.c_str(),
                          IN_CREATE | IN_ATTRIB | IN_MOVED_TO | IN_DELETE | IN_MOVED_FROM) < 0 ||
        !(dir = opendir(folder.c_str()))) {
        return refuse("cannot watch " + folder + " for input devices (" + std::strerror(errno) +
                      ")");
    }
    bool denied = false;
    while (dirent* entry = readdir(dir)) {
        int error = 0;
        if (!input->openDevice(entry->d_name, &error))
            denied = denied || error == EACCES || error == EPERM;
    }
    closedir(dir);
    if (denied && input->_devices.empty()) {
        return refuse("this user cannot read " + folder +
                      "/event* (add yourself to the 'input' group: sudo usermod -aG input "
                      "$USER, then log in again)");
    }
    input->_wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (input->_wakeFd < 0) return refuse(std::string("no eventfd (") + std::strerror(errno) + ")");
    input->_listener = std::thread([raw = input.get()] { raw->listen(); });
    return input;
}

ZVEvdevHostInput::~ZVEvdevHostInput() {
    if (_listener.joinable()) {
        uint64_t one = 1;
        [[maybe_unused]] ssize_t n = write(_wakeFd, &one, sizeof one);
        _listener.join();
    }
    for (Device& d : _devices) close(d.fd);
    if (_wakeFd >= 0) close(_wakeFd);
    if (_inotifyFd >= 0) close(_inotifyFd);
}

bool ZVEvdevHostInput::openDevice(const std::string& name, int* openError) {
    if (!isEventDevice(name)) return false;
    for (const Device& d : _devices) {
        if (d.name == name) return true;  // a change of its permissions, not a new device
    }
    std::string path = _options.directory + "/" + name;
    int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        if (openError) *openError = errno;
        return false;
    }
    std::optional<DeviceTraits> traits =
        _options.probe ? _options.probe(fd) : probeKernelDevice(fd);
    if (!traits) {
        close(fd);
        return false;
    }
    if (traits->keys && traits->capsLock) _tracker.setCapsLock(true);
    _devices.push_back({name, fd, *traits, {}});
    _deviceCount.store(_devices.size());
    return true;
}

void ZVEvdevHostInput::closeDevice(size_t index) {
    // A device unplugged with a key held sends no release: its keys and buttons go up here.
    for (uint16_t code : std::exchange(_devices[index].down, {}))
        handle(_devices[index], EV_KEY, code, 0, Clock::now());
    close(_devices[index].fd);
    _devices.erase(_devices.begin() + static_cast<std::ptrdiff_t>(index));
    _deviceCount.store(_devices.size());
}

void ZVEvdevHostInput::listen() {
    std::vector<pollfd> fds;
    for (;;) {
        fds.assign({{_wakeFd, POLLIN, 0}, {_inotifyFd, POLLIN, 0}});
        for (const Device& d : _devices) fds.push_back({d.fd, POLLIN, 0});
        if (poll(fds.data(), fds.size(), -1) < 0) {
            if (errno == EINTR) continue;
            ZVLog("ZVEvdevHostInput: poll() failed: %s", std::strerror(errno));
            return;
        }
        if (fds[0].revents) return;
        // Devices first, from the back: the folder's news may close one and shift the rest.
        for (size_t i = _devices.size(); i-- > 0;) {
            if (fds[i + 2].revents && !readDevice(_devices[i])) closeDevice(i);
        }
        if (fds[1].revents & POLLIN) readInotify();
    }
}

void ZVEvdevHostInput::readInotify() {
    alignas(inotify_event) char buffer[4096];
    for (;;) {
        ssize_t n = read(_inotifyFd, buffer, sizeof buffer);
        if (n <= 0) return;
        for (ssize_t at = 0; at < n;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            if (event->len == 0) continue;
            std::string name(event->name);
            if (event->mask & (IN_DELETE | IN_MOVED_FROM)) {
                for (size_t i = 0; i < _devices.size(); ++i) {
                    if (_devices[i].name == name) closeDevice(i--);
                }
            } else {
                // udev makes the node first and gives it its group a moment later: a
                // refused open is tried again on the change of permissions.
                openDevice(name);
            }
        }
    }
}

bool ZVEvdevHostInput::readDevice(Device& device) {
    input_event events[64];
    for (;;) {
        ssize_t n = read(device.fd, events, sizeof events);
        if (n < 0) return errno == EAGAIN || errno == EINTR;  // ENODEV: unplugged
        if (n == 0) return false;
        for (size_t i = 0; i < static_cast<size_t>(n) / sizeof(input_event); ++i) {
            const input_event& e = events[i];
            Clock::time_point when =
                device.traits.monotonicTimes
                    ? Clock::time_point(std::chrono::seconds(e.input_event_sec) +
                                        std::chrono::microseconds(e.input_event_usec))
                    : Clock::now();
            handle(device, e.type, e.code, e.value, when);
        }
    }
}

void ZVEvdevHostInput::handle(Device& device, uint16_t type, uint16_t code, int32_t value,
                              Clock::time_point when) {
    if (type == EV_REL && device.traits.buttons) {
        // The mice's motion summed up places the clicks relative to each other, which is
        // all the double click needs.
        if (code == REL_X) _pointer.first += value;
        if (code == REL_Y) _pointer.second += value;
        return;
    }
    if (type == EV_SYN && code == SYN_DROPPED) {
        // The kernel's buffer overflowed (a busy machine): releases may be lost, so keys
        // the device no longer holds go up now.
        unsigned long keys[longsFor(KEY_MAX)] = {};
        if (ioctl(device.fd, EVIOCGKEY(sizeof keys), keys) < 0) return;
        std::set<uint16_t> held = device.down;
        for (uint16_t key : held) {
            if (!testBit(keys, key)) handle(device, EV_KEY, key, 0, when);
        }
        return;
    }
    // Value 2 is the kernel's own repeat, which the desktop ignores for its own.
    if (type != EV_KEY || value == 2) return;
    if (value) {
        device.down.insert(code);
    } else {
        device.down.erase(code);
    }
    if (int64_t bit = buttonBit(code)) {
        _tracker.onButton(bit, value == 1, when, _pointer);
        return;
    }
    _tracker.onKey(code, ZVKeyCodeTable::macKeyCodeForEvdevKeyCode(code), value == 1, when);
}

std::optional<int64_t> ZVEvdevHostInput::getKeyCode() {
    return _tracker.keyCode();
}

std::optional<uint32_t> ZVEvdevHostInput::getFlags() {
    return _tracker.modifierFlags();
}

std::optional<bool> ZVEvdevHostInput::isKeyRepeating() {
    return _tracker.isKeyRepeating(_options.repeatDelay);
}

std::optional<std::vector<uint8_t>> ZVEvdevHostInput::getKeyStrokesStack() {
    return _tracker.takeKeyStrokes();
}

std::optional<int64_t> ZVEvdevHostInput::getMouseButtonsState() {
    return _tracker.takeMouseButtonsState();
}

size_t ZVEvdevHostInput::deviceCount() {
    return _deviceCount.load();
}
