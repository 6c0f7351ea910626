#pragma once

#include <cstdint>
#include <string>

#include "settings/UiLanguage.h"

namespace varnel {

// The tray icon's tooltip: the program's name, then whether the rules are enforced, the number of
// connections and the BLOCKED count, one line each, so that the state can be read without opening
// the window. Stateless; any thread.
class TrayStatusText {
  public:
    struct State {
        bool running = false;      // monitoring started
        uint32_t connections = 0;  // the counter's connections
        uint32_t blocked = 0;      // the BLOCKED count
        bool autoKill = false;     // "Auto Kill Session" ticked
    };

    // English, for example:
    //   Varnel Kestrin
    //   Auto Kill Session: on            (off; "paused" while monitoring is stopped)
    //   Connections: 12                  ("Monitoring stopped — rules are not enforced" instead)
    //   BLOCKED: 3
    // At most 126 characters (what a tray is sure to show).
    static std::string Build(const State& state, const UiLanguage& lang);
};

}  // namespace varnel
