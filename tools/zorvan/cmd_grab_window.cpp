// zorvan grab-window: a picture of one window as a PNG file.
#include <cerrno>
#include <cstdlib>

#include "ZVCommand.h"
#include "Zorvan.h"

namespace {

constexpr const char* kName = "grab-window";

// On Wayland no client may name another's window: the user picks it in the portal's
// dialog, and its stream is the one display the grant holds.
int grabSharedWindow(const ZVPlatformServices& services, const std::string& id,
                     const std::string& out) {
    if (!id.empty())
        return ZVCommandFail(kName,
                             "a window id means nothing on Wayland: leave it out and "
                             "choose the window in the sharing dialog");
    if (std::string why = services.displayServer->unavailableReason(); !why.empty())
        return ZVCommandFail(kName, why);
    auto displays = services.displayServer->displays();
    if (displays.empty()) return ZVCommandFail(kName, "the desktop portal shared no window");
    auto image = ZVSnap::snapFromRect(displays.front().frame, false, services);
    if (!image) return ZVCommandFail(kName, "the shared window could not be read");
    if (!image->writePNG(out)) return ZVCommandFail(kName, "cannot write '" + out + "'");
    return 0;
}

int run(const std::vector<std::string>& args) {
    std::string out, id;
    bool shadow = false;
    ZVPlatformOptions platform;
    platform.shareWindow = true;
    const auto backend = ZVCommandBackendOptions(platform);
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--shadow") {
            shadow = true;
        } else if (a == "--ask") {
            platform.askAnew = true;
        } else if (a == "--backend") {
            auto value = i + 1 < args.size() ? std::optional(args[++i]) : std::nullopt;
            if (const char* wrong = backend[0].take(value)) return ZVCommandFail(kName, wrong);
        } else if (a == "-o" && i + 1 < args.size()) {
            out = args[++i];
        } else if (id.empty() && !a.empty() && a[0] != '-') {
            id = a;
        } else {
            return ZVCommandFail(kName, "unexpected argument '" + a + "' (see --help)");
        }
    }
    const bool wayland = platform.backend == ZVDisplayBackend::wayland ||
                         (platform.backend == ZVDisplayBackend::automatic &&
                          ZVSessionDisplayBackend() == ZVDisplayBackend::wayland);
    if (id.empty() && !wayland) return ZVCommandFail(kName, "no window id given");
    if (out.empty()) return ZVCommandFail(kName, "no output file given (-o OUT.png)");
    const ZVPlatformServices services = ZVCommandServices(kName, platform);
    if (wayland) return grabSharedWindow(services, id, out);
    errno = 0;
    char* end = nullptr;
    unsigned long window = std::strtoul(id.c_str(), &end, 0);  // decimal or 0x hex, as xwininfo
    if (errno || *end || window == 0 || window > 0x7FFFFFFFul)
        return ZVCommandFail(kName, "'" + id + "' is not a window id");
    if (std::string why = services.displayServer->unavailableReason(); !why.empty())
        return ZVCommandFail(kName, why);
    auto image = ZVSnap::GrabWindow(static_cast<int32_t>(window), shadow, services);
    if (!image) return ZVCommandFail(kName, "window " + id + " does not exist or is not shown");
    if (!image->writePNG(out)) return ZVCommandFail(kName, "cannot write '" + out + "'");
    return 0;
}

const ZVCommand::Registration reg(
    {kName, "save a picture of one window as a PNG file",
     "usage: zorvan grab-window ID [--shadow] -o OUT.png\n"
     "       zorvan grab-window [--backend wayland] [--ask] -o OUT.png\n\n"
     "Saves a picture of the window with X11 id ID (decimal or 0x hex, as xwininfo and\n"
     "xdotool print it) as a PNG file. On Wayland (the session's, or --backend wayland)\n"
     "there is no ID: the window is the one chosen in the desktop portal's sharing\n"
     "dialog (--ask shows it anew where the choice was kept).\n\n"
     "  --shadow    take the window manager's frame around it as well\n"
     "  -o OUT.png  the file to write\n",
     run});

}  // namespace
