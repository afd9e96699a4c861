#include "Foundation/ZVTrash.h"

#include <atomic>

namespace {
std::atomic<ZVTrashHandler> gHandler{nullptr};
}  // namespace

bool ZVMoveToTrash(const std::string& path, std::string* error) {
    if (ZVTrashHandler handler = gHandler.load()) return handler(path, error);
    if (error) *error = path + ": there is no Trash on this system";
    return false;
}

void ZVSetTrashHandler(ZVTrashHandler handler) {
    gHandler.store(handler);
}
