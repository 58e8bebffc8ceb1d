// The maker's web site, opened from the link at the bottom of the main window.
#pragma once

#include "platform/desktop/desktop_services.h"

namespace tessel::ui::modMain {

// Asks the shell to open the maker's web site; whether a browser opens is not looked at.
void OpenWebSite(desktop::ShellService& shell);

}  // namespace tessel::ui::modMain
