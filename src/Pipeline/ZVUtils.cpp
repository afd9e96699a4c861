#include "Pipeline/ZVUtils.h"

std::thread::id gMainThread;

const double ZorvanVersionNumber = 1301.0;
const char ZorvanVersionString[] = "@(#)PROGRAM:Zorvan  PROJECT:Zorvan-1301\n";

void ZVUtils::load() {
    gMainThread = std::this_thread::get_id();
}

namespace {
// The library's load hook: static initialisers run on the loading thread.
const bool kLoaded = (ZVUtils::load(), true);
}  // namespace
