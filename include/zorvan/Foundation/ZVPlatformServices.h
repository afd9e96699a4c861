#pragma once
// The platform's implementations behind the library's own interfaces, in one object that
// is handed down instead of reached for: a session takes one and gives it to every stage
// and track it makes, and a stage a host wires by hand takes one in its factory (the
// platform's by default). Platform/ZVPlatformDefaults fills one for this build; a test
// copies that one, replaces what it fakes and hands the copy in, so nothing of a test is
// ever installed for the whole process.
//
// What is left out on purpose, because it is the host's own choice rather than the
// platform's, and a host makes it once for the process as it sets up its own UI:
// - the alert handler (ZVSetAlertHandler): how the host shows a failure;
// - the host application (ZVSetSharedApplication): where the host's key and button
//   events come from; ZVCreatePlatformHostInput gives the platform's ready one;
// - the codec settings dialog (ZVSettingsDialog::setShared): the host's dialog.
// The keyboard layout that key names follow stays one per process as well: it mirrors the
// display server's one keymap, watched by one thread. The services only say where that
// keymap is read from (keymapSource); the first stage that names keys offers it.
#include <memory>
#include <string>

class ZVAudioHardware;
class ZVCaptureProvider;
class ZVDisplayServer;
class ZVKeyStripRenderer;
class ZVMediaToolkit;
struct SRKeymapSource;

// Moves `path` to the Trash of its file system; false with *error ("which path: why") when
// it cannot. Any thread.
using ZVTrashHandler = bool (*)(const std::string& path, std::string* error);

// Every member is set by ZVPlatformDefaults(); an empty one means that service is missing
// (nothing to record from, no Trash), which its users report as such. Copies share the
// implementations. Any thread.
struct ZVPlatformServices {
    std::shared_ptr<ZVDisplayServer> displayServer;        // displays, screen reads, cursor
    const SRKeymapSource* keymapSource = nullptr;          // static: lives for the process
    std::shared_ptr<ZVAudioHardware> audioHardware;        // devices, defaults, loopback
    std::shared_ptr<const ZVCaptureProvider> capture;      // opens sound input devices
    ZVTrashHandler moveToTrash = nullptr;                  // the user's Trash
    std::shared_ptr<ZVMediaToolkit> mediaToolkit;          // encoders, converters, muxers
    std::shared_ptr<ZVKeyStripRenderer> keyStripRenderer;  // text of the key strip overlay
};
