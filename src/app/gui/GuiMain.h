#pragma once

#include "app/cli/CommandLine.h"
#include "settings/UiLanguage.h"

namespace varnel {

// The window mode: builds the Linux connection table, process list, socket reset, clock and the
// resolver, opens the main window and runs the event loop until the window closes. Returns the
// exit status. The settings, rule file and block log live in ConfigLocation's folder
// (--config-dir first). --no-resolve leaves host-name resolution off whatever the check box says.
int RunWindow(int argc, char** argv, const CommandLine& cl, const UiLanguage& lang);

}  // namespace varnel
