#pragma once
#include "ZVPrivate.h"  // library-internal

// A ready host input object where the display server gives clients no global input
// (Wayland): it reads the kernel's keyboards and mice (/dev/input/event*) itself, which
// only root and the 'input' group may do, and answers the recorder's host input contract
// as ZVX11HostInput does. Devices plugged in later are found through inotify on the
// folder. It never grabs a device: the desktop keeps getting every event.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "Video/ZVHostApplication.h"
#include "Video/ZVHostInputTracker.h"

class ZVEvdevHostInput : public ZVHostApplication {
  public:
    // What a device file is to the listener.
    struct DeviceTraits {
        bool keys = false;            // a keyboard: its keys are recorded
        bool buttons = false;         // a pointer: its buttons and motion are recorded
        bool monotonicTimes = false;  // event times are CLOCK_MONOTONIC (else taken on read)
        bool capsLock = false;        // its Caps Lock light is on
    };
    // Judges an open device file; nullopt for one that is neither keyboard nor pointer.
    using Probe = std::function<std::optional<DeviceTraits>(int fd)>;

    struct Options {
        std::string directory = "/dev/input";  // where the event* device files appear
        Probe probe;  // empty: the kernel's capability bits (and monotonic event times)
        // How long a key is held before it counts as repeating: the compositor's setting
        // where the host knows it (the kernel's own repeat is not what the desktop uses).
        std::chrono::milliseconds repeatDelay{600};
    };

    // Opens every keyboard and pointer in the folder and starts listening, also for
    // devices plugged in later. nullptr, after one log line that *notice (when given) also
    // receives, saying why and how to enable it, when the folder cannot be watched or this
    // user may read none of its devices. Any thread.
    static std::shared_ptr<ZVEvdevHostInput> create(const Options& options,
                                                    std::string* notice = nullptr);
    // Stops the listener and closes the devices. Any thread but the listener's.
    ~ZVEvdevHostInput() override;
    ZVEvdevHostInput(const ZVEvdevHostInput&) = delete;
    ZVEvdevHostInput& operator=(const ZVEvdevHostInput&) = delete;

    // The last non-modifier key pressed and still held (Macintosh virtual key code), -1
    // for none. Any thread.
    std::optional<int64_t> getKeyCode() override;
    // The modifiers held now, in the Cocoa layout, as the key events tell them. Any thread.
    std::optional<uint32_t> getFlags() override;
    // True when the held key has been down longer than the repeat delay. Any thread.
    std::optional<bool> isKeyRepeating() override;
    // The keys pressed since the previous call with the modifiers of each press; empty
    // afterwards. Any thread.
    std::optional<std::vector<uint8_t>> getKeyStrokesStack() override;
    // Buttons held now or pressed since the previous call, and the double click. Any thread.
    std::optional<int64_t> getMouseButtonsState() override;

    // How many keyboards and pointers are open now. Any thread.
    size_t deviceCount();
    // The kernel's judgement of an evdev device (EVIOCGBIT); also switches its event
    // times to CLOCK_MONOTONIC. Any thread.
    static std::optional<DeviceTraits> probeKernelDevice(int fd);

  private:
    struct Device {
        std::string name;  // file name in the folder
        int fd = -1;
        DeviceTraits traits;
        std::set<uint16_t> down;  // its keys and buttons held now, released if it goes
    };

    explicit ZVEvdevHostInput(Options options);
    // Opens and judges `name` when it is an event device; errno of a failed open in
    // *openError. Listener only (or create, before the listener starts).
    bool openDevice(const std::string& name, int* openError = nullptr);
    void closeDevice(size_t index);
    void listen();                    // the listener's body
    void readInotify();               // listener only
    bool readDevice(Device& device);  // false when the device is gone; listener only
    void handle(Device& device, uint16_t type, uint16_t code, int32_t value,
                ZVHostInputTracker::Clock::time_point when);

    const Options _options;
    int _inotifyFd = -1;
    int _wakeFd = -1;  // an eventfd; written by the destructor to end the listener
    std::thread _listener;
    // Listener only (create fills them before it starts): the open devices and the
    // pointer's position summed from the mice's relative motion.
    std::vector<Device> _devices;
    std::pair<int, int> _pointer{0, 0};

    std::atomic<size_t> _deviceCount{0};  // _devices.size(), for any thread
    ZVHostInputTracker _tracker;          // fed by the listener, asked by ticks
};
