// zorvan grab-window: a picture of one window as a PNG file.
#include <cerrno>
#include <cstdlib>

#include "ZVCommand.h"
#include "Zorvan.h"

namespace {

constexpr const char* kName = "grab-window";

int run(const std::vector<std::string>& args) {
    std::string out, id;
    bool shadow = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--shadow") {
            shadow = true;
        } else if (a == "-o" && i + 1 < args.size()) {
            out = args[++i];
        } else if (id.empty() && !a.empty() && a[0] != '-') {
            id = a;
        } else {
            return ZVCommandFail(kName, "unexpected argument '" + a + "' (see --help)");
        }
    }
    if (id.empty()) return ZVCommandFail(kName, "no window id given");
    if (out.empty()) return ZVCommandFail(kName, "no output file given (-o OUT.png)");
    errno = 0;
    char* end = nullptr;
    unsigned long window = std::strtoul(id.c_str(), &end, 0);  // decimal or 0x hex, as xwininfo
    if (errno || *end || window == 0 || window > 0x7FFFFFFFul)
        return ZVCommandFail(kName, "'" + id + "' is not a window id");
    if (std::string why = ZVPlatformDefaults().displayServer->unavailableReason(); !why.empty())
        return ZVCommandFail(kName, why);
    auto image = ZVSnap::GrabWindow(static_cast<int32_t>(window), shadow);
    if (!image) return ZVCommandFail(kName, "window " + id + " does not exist or is not shown");
    if (!image->writePNG(out)) return ZVCommandFail(kName, "cannot write '" + out + "'");
    return 0;
}

const ZVCommand::Registration reg(
    {kName, "save a picture of one window as a PNG file",
     "usage: zorvan grab-window ID [--shadow] -o OUT.png\n\n"
     "Saves a picture of the window with X11 id ID (decimal or 0x hex, as xwininfo and\n"
     "xdotool print it) as a PNG file.\n\n"
     "  --shadow    take the window manager's frame around it as well\n"
     "  -o OUT.png  the file to write\n",
     run});

}  // namespace
