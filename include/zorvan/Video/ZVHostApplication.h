#pragma once
// The host input contract: what the host's application object may tell the screen
// recorder about the mouse buttons and the keyboard on every frame. Each operation answers
// std::nullopt when the host does not implement it, and the recorder then uses its
// default. The recorder calls these on the display link's tick thread, so an
// implementation must be safe to call from there.
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

// Bits of getMouseButtonsState; the recorder copies exactly these into a frame's flags.
inline constexpr int64_t kZVMouseLeftButton = 0x1;
inline constexpr int64_t kZVMouseRightButton = 0x2;
inline constexpr int64_t kZVMouseOtherButton = 0x4;
inline constexpr int64_t kZVMouseDoubleClick = 0x8;

// Caps Lock in the Cocoa modifier layout that frames store; the other modifier bits are
// the kSRCocoa...KeyMask constants of the key naming.
inline constexpr uint32_t kZVAlphaShiftKeyMask = 0x10000;

class ZVHostApplication {
  public:
    virtual ~ZVHostApplication() = default;

    // Virtual key code of the key held down (the recorder keeps the low 16 bits), -1 for
    // none. Tick only.
    virtual std::optional<int64_t> getKeyCode() { return std::nullopt; }
    // The keyboard modifier flags in the Cocoa layout. Tick only.
    virtual std::optional<uint32_t> getFlags() { return std::nullopt; }
    // Whether the held key auto-repeats. Tick only.
    virtual std::optional<bool> isKeyRepeating() { return std::nullopt; }
    // The keys typed since the previous call: 8-byte entries {uint32 modifier flags,
    // int32 virtual key code} in host byte order. Implementing it at all marks every frame
    // as carrying key strokes; keeping and emptying the stack is the host's. Tick only.
    virtual std::optional<std::vector<uint8_t>> getKeyStrokesStack() { return std::nullopt; }
    // Mouse bits kZVMouse...; other bits are ignored. Tick only.
    virtual std::optional<int64_t> getMouseButtonsState() { return std::nullopt; }
};

// Installs the process's application object (nullptr: none, every operation defaults).
// A setting of the host, not a platform service: where key and button events come from is
// the host's own choice (its toolkit, or ZVCreatePlatformHostInput), and a host may swap it
// while a recording runs, so it is not in ZVPlatformServices. Any thread.
void ZVSetSharedApplication(std::shared_ptr<ZVHostApplication> application);

// The installed application object, or nullptr. The caller keeps it alive for as long as
// it uses it, so a host may swap it while a recording runs. Any thread.
std::shared_ptr<ZVHostApplication> ZVSharedApplication();
