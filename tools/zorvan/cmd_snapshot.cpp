// zorvan snapshot: a still picture of the screen, or of a rectangle of it, as a PNG file.
#include <cstdio>
#include <cstring>

#include "Platform/ZVPlatformDefaults.h"
#include "ZVCommand.h"
#include "Zorvan.h"

namespace {

constexpr const char* kName = "snapshot";

// The bounding box of every display: what a snapshot without --rect shows.
ZVRect wholeDesktop(const ZVPlatformServices& services) {
    ZVRect box;
    bool first = true;
    for (auto& s : ZVScreen::screens(services)) {
        const ZVRect f = s->frame();
        if (first) {
            box = f;
            first = false;
            continue;
        }
        const float x0 = std::min(box.minX(), f.minX()), y0 = std::min(box.minY(), f.minY());
        const float x1 = std::max(box.maxX(), f.maxX()), y1 = std::max(box.maxY(), f.maxY());
        box = ZVMakeRect(x0, y0, x1 - x0, y1 - y0);
    }
    return box;
}

int run(const std::vector<std::string>& args) {
    std::string out, geometry;
    bool cursor = false;
    ZVPlatformOptions platform;
    const auto backend = ZVCommandBackendOptions(platform);
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--cursor") {
            cursor = true;
        } else if (a == "--ask") {
            platform.askAnew = true;
        } else if (a == "--backend") {
            auto value = i + 1 < args.size() ? std::optional(args[++i]) : std::nullopt;
            if (const char* wrong = backend[0].take(value)) return ZVCommandFail(kName, wrong);
        } else if ((a == "--rect" || a == "-o") && i + 1 < args.size()) {
            (a == "-o" ? out : geometry) = args[++i];
        } else {
            return ZVCommandFail(kName, "unexpected argument '" + a + "' (see --help)");
        }
    }
    if (out.empty()) return ZVCommandFail(kName, "no output file given (-o OUT.png)");
    const ZVPlatformServices services = ZVCommandServices(kName, platform);
    auto server = services.displayServer;
    if (std::string why = server->unavailableReason(); !why.empty())
        return ZVCommandFail(kName, why);
    ZVRect rect;
    if (!geometry.empty()) {
        auto native = ZVParseNativeRect(geometry);
        if (!native)
            return ZVCommandFail(kName,
                                 "'" + geometry + "' " + ZVCommandRectProblem(geometry, services));
        rect = server->desktopRectFromNative(*native);
    } else {
        rect = wholeDesktop(services);
        if (rect.isEmpty()) return ZVCommandFail(kName, "the display server shows no display");
    }
    if (auto problem = ZVCommandOutputProblem(out)) return ZVCommandFail(kName, *problem);
    auto image = ZVSnap::snapFromRect(rect, cursor, services);
    if (!image) return ZVCommandFail(kName, "the screen could not be read");
    if (!image->writePNG(out)) {
        std::remove(out.c_str());  // a picture cut short is no picture
        return ZVCommandFail(kName, ZVCommandWriteFailure(out));
    }
    return 0;
}

const ZVCommand::Registration reg(
    {kName, "save a picture of the screen as a PNG file",
     "usage: zorvan snapshot [--rect WxH+X+Y] [--cursor] [--backend x11|wayland] [--ask]\n"
     "                       -o OUT.png\n\n"
     "Saves a picture of the whole desktop, or of the rectangle given in X11 geometry\n"
     "(width x height + left + top, in root-window pixels), as a PNG file.\n\n"
     "  --rect WxH+X+Y  the rectangle; parts on no monitor come out black\n"
     "  --cursor        draw the mouse cursor into the picture\n"
     "  --backend B     the X server (x11) or the desktop portal (wayland); by default\n"
     "                  the session's own, as for 'zorvan record'\n"
     "  --ask           on Wayland, show the portal's sharing dialog anew\n"
     "  -o OUT.png      the file to write\n",
     run});

}  // namespace
