#include "Audio/ZVCaptureProvider.h"

#include <atomic>

namespace {
// Constant-initialised, so the platform may install its provider from a static
// initialiser of its own.
std::atomic<const ZVCaptureProvider*> gProvider{nullptr};
}  // namespace

const ZVCaptureProvider* ZVCaptureGetProvider() {
    return gProvider.load();
}

void ZVCaptureSetProvider(const ZVCaptureProvider* provider) {
    gProvider.store(provider);
}
