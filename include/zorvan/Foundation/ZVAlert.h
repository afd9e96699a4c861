#pragma once
// Alert panels: a failure a user must see. The handler runs synchronously on the thread
// that met the failure (a worker, the display-link thread). The default handler logs the
// alert and writes it to standard error.
#include <functional>
#include <string>

using ZVAlertHandler = std::function<void(const std::string& title, const std::string& message)>;

// Installs the host's handler; an empty function restores the default. A setting of the
// host, not a platform service: how failures are shown is the host's own choice, made once
// for the process, so it is not in ZVPlatformServices. Any thread.
void ZVSetAlertHandler(ZVAlertHandler handler);

// Shows an alert through the installed handler. Any thread.
void ZVRunAlertPanel(const std::string& title, const std::string& message);
