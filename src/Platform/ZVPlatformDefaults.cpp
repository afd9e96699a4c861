// The one place that chooses the platform: a Wayland/PipeWire build would install its own
// implementations here instead.
#include "Platform/ZVPlatformDefaults.h"

#include "Audio/ZVAudioHardware.h"
#include "Audio/ZVCaptureProvider.h"
#include "Audio/ZVOpenALProvider.h"
#include "Foundation/ZVTrash.h"
#include "Keys/SRKeymapSource.h"
#include "Platform/Cairo/ZVCairoKeyStripRenderer.h"
#include "Platform/Evdev/ZVEvdevHostInput.h"
#include "Platform/FFmpeg/ZVFFmpegMediaToolkit.h"
#include "Platform/GIO/ZVGIOTrash.h"
#include "Platform/Pulse/ZVPulseAudioHardware.h"
#include "Platform/Pulse/ZVPulseCapture.h"
#include "Platform/Wayland/ZVWaylandKeymapMonitor.h"
#include "Platform/X11/ZVX11DisplayServer.h"
#include "Platform/X11/ZVX11Geometry.h"
#include "Platform/X11/ZVX11HostInput.h"
#include "Platform/X11/ZVX11KeymapMonitor.h"
#include "Video/ZVDisplayServer.h"

#include <cstdlib>
#include <string>

namespace {
const SRKeymapSource kX11KeymapSource{&ZVX11KeymapMonitor::start, &ZVX11KeymapMonitor::refresh};
const SRKeymapSource kWaylandKeymapSource{&ZVWaylandKeymapMonitor::start,
                                          &ZVWaylandKeymapMonitor::refresh};

bool isWaylandSession() {
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    const char* type = std::getenv("XDG_SESSION_TYPE");
    return (wayland && *wayland) || (type && std::string_view(type) == "wayland");
}

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
        return _openAL->open(name, rate, alFormat, bufferFrames, error);
    }

  private:
    const std::shared_ptr<const ZVCaptureProvider> _openAL =
        ZVOpenALCaptureProvider(ZVOpenALSoftProvider());
};

}  // namespace

const ZVPlatformServices& ZVPlatformDefaults() {
    static const ZVPlatformServices services = [] {
        ZVPlatformServices s;
        s.displayServer = std::make_shared<ZVX11DisplayServer>();
        s.keymapSource = isWaylandSession() ? &kWaylandKeymapSource : &kX11KeymapSource;
        s.audioHardware = std::make_shared<ZVPulseAudioHardware>();
        s.capture = std::make_shared<PlatformCaptureProvider>();
        s.moveToTrash = &ZVGIOMoveToTrash;
        s.mediaToolkit = std::make_shared<ZVFFmpegMediaToolkit>();
        s.keyStripRenderer = std::make_shared<ZVCairoKeyStripRenderer>();
        return s;
    }();
    return services;
}

std::shared_ptr<ZVHostApplication> ZVCreatePlatformHostInput(std::string* notice) {
    // Wayland gives no client the input of others: there the kernel's devices are read,
    // and a key repeats after the compositor's delay.
    if (!isWaylandSession()) return ZVX11HostInput::create();
    ZVEvdevHostInput::Options options;
    if (auto delay = ZVWaylandKeymapMonitor::repeatDelay()) options.repeatDelay = *delay;
    return ZVEvdevHostInput::create(options, notice);
}

std::optional<ZVRect> ZVParseNativeRect(std::string_view text) {
    auto g = ZVParseX11Geometry(text);
    if (!g) return std::nullopt;
    return ZVMakeRect(float(g->x), float(g->y), float(g->width), float(g->height));
}
