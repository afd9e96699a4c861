// Each line the Wayland display server gives when it cannot be used, made by what causes it.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include "Platform/PipeWire/ZVWaylandDisplayServer.h"

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

TEST(PipeWireMessages, EachReasonTheDisplayServerCannotBeUsed) {
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
}

}  // namespace
