// The one place that chooses the platform: X11 or the Wayland screen cast for the screen,
// the rest shared by both.
#include "Platform/ZVPlatformDefaults.h"

#include "Audio/ZVAudioHardware.h"
#include "Audio/ZVCaptureProvider.h"
#include "Audio/ZVOpenALProvider.h"
#include "Foundation/ZVLog.h"
#include "Foundation/ZVTrash.h"
#include "Keys/SRKeymapSource.h"
#include "Platform/Cairo/ZVCairoKeyStripRenderer.h"
#include "Platform/Evdev/ZVEvdevHostInput.h"
#include "Platform/FFmpeg/ZVFFmpegMediaToolkit.h"
#include "Platform/GIO/ZVGIOTrash.h"
#include "Platform/PipeWire/ZVScreenCastPortal.h"
#include "Platform/PipeWire/ZVWaylandDisplayServer.h"
#include "Platform/Pulse/ZVPulseAudioHardware.h"
#include "Platform/Pulse/ZVPulseCapture.h"
#include "Platform/Wayland/ZVWaylandKeymapMonitor.h"
#include "Platform/X11/ZVX11DisplayServer.h"
#include "Platform/X11/ZVX11Geometry.h"
#include "Platform/X11/ZVX11HostInput.h"
#include "Platform/X11/ZVX11KeymapMonitor.h"
#include "Video/ZVDisplayServer.h"

#include <cstdlib>
#include <cstring>
#include <string>

namespace {
const SRKeymapSource kX11KeymapSource{&ZVX11KeymapMonitor::start, &ZVX11KeymapMonitor::refresh};
const SRKeymapSource kWaylandKeymapSource{&ZVWaylandKeymapMonitor::start,
                                          &ZVWaylandKeymapMonitor::refresh};

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

ZVDisplayBackend ZVSessionDisplayBackend() {
    const char* display = std::getenv("WAYLAND_DISPLAY");
    const char* type = std::getenv("XDG_SESSION_TYPE");
    return (display && *display) || (type && std::strcmp(type, "wayland") == 0)
               ? ZVDisplayBackend::wayland
               : ZVDisplayBackend::x11;
}

namespace {
bool isWayland(const ZVPlatformOptions& options) {
    return options.backend == ZVDisplayBackend::wayland ||
           (options.backend == ZVDisplayBackend::automatic &&
            ZVSessionDisplayBackend() == ZVDisplayBackend::wayland);
}
}  // namespace

ZVPlatformServices ZVPlatformServicesFor(const ZVPlatformOptions& options) {
    ZVPlatformServices s;
    if (isWayland(options)) {
        ZVScreenCastRequest request;
        // A virtual monitor (where the portal offers one) is recorded as any other monitor.
        request.sourceTypes =
            options.shareWindow ? kZVSourceWindow : kZVSourceMonitor | kZVSourceVirtual;
        request.askAnew = options.askAnew;
        request.notice = options.notice;
        s.displayServer =
            std::make_shared<ZVWaylandDisplayServer>(ZVScreenCastPortal::opener(), request);
    } else {
        s.displayServer = std::make_shared<ZVX11DisplayServer>();
    }
    s.keymapSource = isWayland(options) ? &kWaylandKeymapSource : &kX11KeymapSource;
    s.audioHardware = std::make_shared<ZVPulseAudioHardware>();
    s.capture = std::make_shared<PlatformCaptureProvider>();
    s.moveToTrash = &ZVGIOMoveToTrash;
    s.mediaToolkit = std::make_shared<ZVFFmpegMediaToolkit>();
    s.keyStripRenderer = std::make_shared<ZVCairoKeyStripRenderer>();
    return s;
}

const ZVPlatformServices& ZVPlatformDefaults() {
    static const ZVPlatformServices services = ZVPlatformServicesFor({});
    return services;
}

std::vector<std::string> ZVPlatformScreenLines(const ZVPlatformOptions& options,
                                               std::string* error) {
    std::vector<std::string> lines;
    if (isWayland(options)) {
        auto offer = ZVScreenCastPortal::offer(error);
        if (!offer) return lines;
        auto names = [](uint32_t bits,
                        std::initializer_list<std::pair<uint32_t, const char*>> all) {
            std::string text;
            for (auto [bit, name] : all)
                if (bits & bit) text += (text.empty() ? "" : ", ") + std::string(name);
            return text.empty() ? std::string("none") : text;
        };
        lines.push_back("desktop portal screen cast, version " + std::to_string(offer->version));
        lines.push_back("  sources: " +
                        names(offer->sourceTypes, {{kZVSourceMonitor, "monitor"},
                                                   {kZVSourceWindow, "window"},
                                                   {kZVSourceVirtual, "virtual monitor"}}));
        lines.push_back("  cursor: " +
                        names(offer->cursorModes, {{kZVCursorHidden, "hidden"},
                                                   {kZVCursorEmbedded, "embedded"},
                                                   {kZVCursorMetadata, "metadata"}}));
        return lines;
    }
    ZVX11DisplayServer server;
    if (std::string why = server.unavailableReason(); !why.empty()) {
        if (error) *error = why;
        return lines;
    }
    // Shown in root-window geometry, as users type it for --rect: the server's mapping is
    // a shift and a flip of y, read off from where the root's corner pixel lands.
    const ZVRect corner = server.desktopRectFromNative(ZVMakeRect(0, 0, 1, 1));
    const float top = corner.origin.y + 1;
    for (const auto& d : server.displays())
        lines.push_back(ZVFormat(
            "%s %.0fx%.0f+%.0f+%.0f%s", d.name.c_str(), double(d.frame.size.width),
            double(d.frame.size.height), double(d.frame.origin.x - corner.origin.x),
            double(top - d.frame.origin.y - d.frame.size.height), d.primary ? " primary" : ""));
    return lines;
}

std::shared_ptr<ZVHostApplication> ZVCreatePlatformHostInput(std::string* notice) {
    // Wayland gives no client the input of others: there the kernel's devices are read,
    // and a key repeats after the compositor's delay.
    if (ZVSessionDisplayBackend() != ZVDisplayBackend::wayland) return ZVX11HostInput::create();
    ZVEvdevHostInput::Options options;
    if (auto delay = ZVWaylandKeymapMonitor::repeatDelay()) options.repeatDelay = *delay;
    return ZVEvdevHostInput::create(options, notice);
}

std::optional<ZVRect> ZVParseNativeRect(std::string_view text) {
    auto g = ZVParseX11Geometry(text);
    if (!g) return std::nullopt;
    return ZVMakeRect(float(g->x), float(g->y), float(g->width), float(g->height));
}
