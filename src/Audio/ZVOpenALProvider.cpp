#include "Audio/ZVOpenALProvider.h"

#include <atomic>

namespace {
// Constant-initialised, so the platform may install its provider from a static
// initialiser of its own.
std::atomic<const ZVOpenALProvider*> gProvider{nullptr};
}  // namespace

const ZVOpenALProvider* ZVOpenALGetProvider() {
    return gProvider.load();
}

void ZVOpenALSetProvider(const ZVOpenALProvider* provider) {
    gProvider.store(provider);
}
