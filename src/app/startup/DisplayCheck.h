#pragma once

#include <string>

namespace varnel {

// Whether the window can be opened at all, asked before Qt is started: Qt ends the process with
// SIGABRT (and a core dump) when its platform plugin finds no display, which tells a user at a
// terminal nothing useful.
//
// Stateless; any thread.
class DisplayCheck {
  public:
    // Empty when a display is there for the platform Qt will use, else why not, for a person.
    // The arguments are QT_QPA_PLATFORM, DISPLAY and WAYLAND_DISPLAY (null when not set).
    static std::string Problem(const char* platform, const char* display, const char* waylandDisplay);
    // The same from this process's environment.
    static std::string Problem();

  private:
    // A local X display (":0", "unix:1.0") whose socket does not answer; other forms are not tried.
    static bool LocalXDisplayDead(const std::string& display);
};

}  // namespace varnel
