#pragma once
// The codec settings dialog: shows codec settings to the user, who changes them and
// accepts (kZVDialogOK) or leaves (kZVDialogCancel). The CLI installs the terminal one; a
// desktop host installs its own.
#include <memory>

#include "Media/ZVCodecSettings.h"

class ZVSettingsDialog {
  public:
    virtual ~ZVSettingsDialog() = default;

    // Starts from `settings` (video: with the preference flags already set) and, on OK,
    // leaves the user's choice in them. Answers kZVDialogOK, kZVDialogCancel or another
    // non-zero error. Thread: the implementation's.
    virtual long requestSettings(ZVCodecSettings& settings) = 0;

    // The installed dialog; a terminal dialog on standard input and error until one is
    // installed. A setting of the host, not a platform service: the dialog is part of the
    // host's own user interface, so it is not in ZVPlatformServices. Any thread.
    static std::shared_ptr<ZVSettingsDialog> shared();
    static void setShared(std::shared_ptr<ZVSettingsDialog> dialog);
};
