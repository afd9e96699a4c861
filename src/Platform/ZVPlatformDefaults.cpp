// The one place that chooses the platform: a Wayland/PipeWire build would install its own
// implementations here instead.
#include "Platform/ZVPlatformDefaults.h"

#include "Audio/ZVAudioHardware.h"
#include "Audio/ZVCaptureProvider.h"
#include "Audio/ZVOpenALProvider.h"
#include "Foundation/ZVTrash.h"
#include "Keys/SRKeyboardLayout.h"
#include "Keys/SRKeymapSource.h"
#include "Platform/Cairo/ZVCairoKeyStripRenderer.h"
#include "Platform/FFmpeg/ZVFFmpegMediaToolkit.h"
#include "Platform/GIO/ZVGIOTrash.h"
#include "Platform/Pulse/ZVPulseAudioHardware.h"
#include "Platform/Pulse/ZVPulseCapture.h"
#include "Platform/X11/ZVX11DisplayServer.h"
#include "Platform/X11/ZVX11Geometry.h"
#include "Platform/X11/ZVX11HostInput.h"
#include "Platform/X11/ZVX11KeymapMonitor.h"
#include "Video/ZVDisplayServer.h"

namespace {
const SRKeymapSource kX11KeymapSource{&ZVX11KeymapMonitor::start, &ZVX11KeymapMonitor::refresh};

// The sound server's stream where a server answers; the OpenAL calls where none does
// (they then reach the sound hardware through ALSA).
class PlatformCaptureProvider : public ZVCaptureProvider {
  public:
    std::unique_ptr<ZVCaptureDevice> open(const std::string& name, uint32_t rate, int32_t alFormat,
                                          int32_t bufferFrames, int32_t* error) const override {
        int32_t code = 0;
        if (auto device =
                ZVPulseCapture::provider()->open(name, rate, alFormat, bufferFrames, &code))
            return device;
        if (code != PA_ERR_CONNECTIONREFUSED) {
            if (error) *error = code;
            return nullptr;
        }
        return ZVOpenALCaptureProvider()->open(name, rate, alFormat, bufferFrames, error);
    }
};
const PlatformCaptureProvider kPlatformCapture;

std::shared_ptr<ZVDisplayServer> makeX11DisplayServer() {
    return std::make_shared<ZVX11DisplayServer>();
}

// Installed when the library loads, before a host can call into it. Everything set here
// is a plain pointer or constant-initialised, so the order of static initialisers between
// files does not matter.
[[maybe_unused]] const bool gInstalled = (ZVInstallPlatformDefaults(), true);
}  // namespace

void ZVInstallPlatformDefaults() {
    ZVDisplayServer::setFactory(&makeX11DisplayServer);
    SRKeyboardLayout::setKeymapSource(&kX11KeymapSource);
    ZVAudioHardware::setShared(std::make_shared<ZVPulseAudioHardware>());
    ZVOpenALSetProvider(ZVOpenALSoftProvider());
    ZVCaptureSetProvider(&kPlatformCapture);
    ZVSetTrashHandler(&ZVGIOMoveToTrash);
    ZVRegisterFFmpegMediaToolkit();
    ZVRegisterCairoKeyStripRenderer();
}

const ZVCaptureProvider* ZVPlatformCaptureProvider() {
    return &kPlatformCapture;
}

std::shared_ptr<ZVHostApplication> ZVCreatePlatformHostInput() {
    return ZVX11HostInput::create();
}

std::optional<ZVRect> ZVParseNativeRect(std::string_view text) {
    auto g = ZVParseX11Geometry(text);
    if (!g) return std::nullopt;
    return ZVMakeRect(float(g->x), float(g->y), float(g->width), float(g->height));
}
