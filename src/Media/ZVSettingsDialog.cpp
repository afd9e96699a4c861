#include "Media/ZVSettingsDialog.h"

#include <cstdio>

#include "Foundation/ZVMutex.h"
#include "Media/ZVTerminalSettingsDialog.h"

namespace {
ZVMutex gDialogLock;  // guards gDialog
std::shared_ptr<ZVSettingsDialog> gDialog ZV_GUARDED_BY(gDialogLock);
}  // namespace

std::shared_ptr<ZVSettingsDialog> ZVSettingsDialog::shared() {
    ZVLockGuard<ZVMutex> g(gDialogLock);
    if (!gDialog) gDialog = std::make_shared<ZVTerminalSettingsDialog>(stdin, stderr);
    return gDialog;
}

void ZVSettingsDialog::setShared(std::shared_ptr<ZVSettingsDialog> dialog) {
    ZVLockGuard<ZVMutex> g(gDialogLock);
    gDialog = std::move(dialog);
}
