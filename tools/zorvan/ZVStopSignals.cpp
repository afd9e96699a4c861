#include "ZVStopSignals.h"

#include <signal.h>

#include <atomic>
#include <cstdio>

namespace {
// Written only by the handler, read by the command's main loop.
std::atomic<int> gLastSignal{0};
std::atomic<int> gSignalCount{0};
static_assert(std::atomic<int>::is_always_lock_free);

void onStopSignal(int signal) {
    gLastSignal.store(signal);
    gSignalCount.fetch_add(1);
}
}  // namespace

void ZVCatchStopSignals() {
    struct sigaction action = {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
    signal(SIGXFSZ, SIG_IGN);
}

int ZVStopSignal() {
    return gLastSignal.load();
}

int ZVStopSignalCount() {
    return gSignalCount.load();
}

void ZVShowStatusLine(const std::string& line) {
    std::fprintf(stderr, "\r%s\033[K", line.c_str());
}
