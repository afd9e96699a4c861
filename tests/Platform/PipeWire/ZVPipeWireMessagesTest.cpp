// Each line the Wayland display server gives when it cannot be used, made by what causes it:
// the portal's own lines on session buses of the test's own, and PipeWire's.
#include <gio/gio.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include "Platform/PipeWire/ZVScreenCastPortal.h"
#include "Platform/PipeWire/ZVWaylandDisplayServer.h"
#include "support/ZVPipeWireProducer.h"
#include "support/ZVTestSupport.h"

namespace {

std::optional<ZVScreenCastGrant> grantOf(std::vector<uint32_t> nodes, int fd = -1) {
    ZVScreenCastGrant g;
    g.pipewireFd = fd;
    for (uint32_t n : nodes)
        g.streams.push_back(ZVScreenCastStream{n, "", kZVSourceMonitor, {}, {}});
    return g;
}

// A connection whose far end is gone: what a PipeWire server that went away leaves.
int deadSocket() {
    int fds[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) return -1;
    close(fds[1]);
    return fds[0];
}

// Holds the portal's name on the fixture's session bus (which starts no services) without
// serving anything under it: a portal whose backends offer no screen sharing. GIO answers
// calls to it from its own thread.
struct PortalNameOnly {
    PortalNameOnly() {
        owner = g_dbus_connection_new_for_address_sync(
            std::getenv("DBUS_SESSION_BUS_ADDRESS"),
            GDBusConnectionFlags(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                 G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
            nullptr, nullptr, nullptr);
        GVariant* reply = nullptr;
        if (owner)
            reply = g_dbus_connection_call_sync(
                owner, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                "RequestName", g_variant_new("(su)", "org.freedesktop.portal.Desktop", 4u),
                G_VARIANT_TYPE("(u)"), G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, nullptr);
        EXPECT_TRUE(reply) << "cannot own the portal's name";
        if (reply) g_variant_unref(reply);
    }
    ~PortalNameOnly() {
        if (!owner) return;
        g_dbus_connection_close_sync(owner, nullptr, nullptr);
        g_object_unref(owner);
    }
    GDBusConnection* owner = nullptr;
};

// The portal asked with no session bus named and none where one is looked for, or on `bus`.
std::optional<ZVScreenCastGrant> askPortalOn(const char* bus, std::string* error) {
    zvtest::EnvScope address("DBUS_SESSION_BUS_ADDRESS", bus);
    zvtest::EnvScope runtime("XDG_RUNTIME_DIR", bus ? std::getenv("XDG_RUNTIME_DIR") : "/none");
    zvtest::EnvScope display("DISPLAY", nullptr);
    return ZVScreenCastPortal::open({}, error);
}

TEST(PipeWireMessages, EachReasonTheDisplayServerCannotBeUsed) {
    const std::string install =
        ": install xdg-desktop-portal and the portal of your desktop (xdg-desktop-portal-gnome, "
        "xdg-desktop-portal-kde or xdg-desktop-portal-wlr)";
    struct Row {
        const char* cause;
        std::function<std::optional<ZVScreenCastGrant>(std::string*)> open;
        std::string line;
    } rows[] = {
        {"the portal's own line passes through",
         [](std::string* e) {
             *e = "the screen cast was refused";
             return std::nullopt;
         },
         "the screen cast was refused"},
        {"an opener that says nothing", [](std::string*) { return std::nullopt; },
         "the screen cast was not granted"},
        {"no session bus", [](std::string* e) { return askPortalOn(nullptr, e); },
         "no D-Bus session bus (Cannot autolaunch D-Bus without X11 $DISPLAY): screen sharing "
         "on Wayland goes through the desktop portal on it"},
        {"a session bus that is not there",
         [](std::string* e) { return askPortalOn("unix:path=/nonexistent/bus", e); },
         "cannot reach the D-Bus session bus at unix:path=/nonexistent/bus: Could not connect: "
         "No such file or directory"},
        {"no portal on the session bus",
         [](std::string* e) { return ZVScreenCastPortal::open({}, e); },
         "the desktop portal is not running (no org.freedesktop.portal.Desktop on the session "
         "bus)" +
             install},
        {"a portal without screen sharing",
         [](std::string* e) {
             PortalNameOnly portal;
             return ZVScreenCastPortal::open({}, e);
         },
         "the desktop portal offers no screen sharing (no org.freedesktop.portal.ScreenCast)" +
             install},
        {"a grant without streams", [](std::string*) { return grantOf({}); },
         "the screen cast portal granted no stream"},
        {"a node that does not exist", [](std::string*) { return grantOf({999999}); },
         "the screen cast stream ended: node 999999 could not be linked"},
        {"a PipeWire server that is not there",
         [](std::string*) { return grantOf({1}, deadSocket()); },
         "the screen cast stream ended: the PipeWire server went away"},
    };
    for (const Row& row : rows) {
        ZVWaylandDisplayServer server(
            [&](const ZVScreenCastRequest&, std::string* e) { return row.open(e); }, {});
        EXPECT_EQ(server.unavailableReason(), row.line) << row.cause;
        EXPECT_TRUE(server.displays().empty()) << row.cause;
    }

    // A source that sends no picture, its size granted: the recording can start, and the
    // user is told why its frames come late.
    zvtest::ZVPipeWireProducer still(320, 200);
    std::vector<std::string> told;
    ZVScreenCastRequest request;
    request.notice = [&](const std::string& line) { told.push_back(line); };
    ZVWaylandDisplayServer server(
        [&](const ZVScreenCastRequest&, std::string*) {
            auto grant = grantOf({still.nodeId()});
            grant->streams[0].size = ZVSize{320, 200};
            return grant;
        },
        request);
    EXPECT_EQ(server.unavailableReason(), "");
    EXPECT_EQ(told, std::vector<std::string>{"the screen cast has sent no picture yet: the "
                                             "recording starts once something on the screen "
                                             "changes"});
}

}  // namespace
