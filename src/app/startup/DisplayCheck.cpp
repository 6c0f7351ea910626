#include "app/startup/DisplayCheck.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>

namespace varnel {

namespace {

bool Set(const char* v) {
    return v != nullptr && v[0] != '\0';
}

bool Connects(const sockaddr_un& addr, socklen_t len) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return true;  // cannot tell: let Qt try
    const bool ok = ::connect(fd, reinterpret_cast<const sockaddr*>(&addr), len) == 0;
    ::close(fd);
    return ok;
}

const char* kHint = "; run it on a desktop or under xvfb-run, or use varnel --list or varnel --headless";

}  // namespace

bool DisplayCheck::LocalXDisplayDead(const std::string& display) {
    std::string rest;
    if (display.rfind(':', 0) == 0)
        rest = display.substr(1);
    else if (display.rfind("unix:", 0) == 0)
        rest = display.substr(5);
    else
        return false;
    const std::string number = rest.substr(0, rest.find('.'));
    if (number.empty() || number.find_first_not_of("0123456789") != std::string::npos) return false;
    const std::string path = "/tmp/.X11-unix/X" + number;
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path, path.c_str(), path.size());
    if (Connects(addr, sizeof addr)) return false;
    // X servers on Linux also listen on the abstract name of the same path.
    sockaddr_un abstract{};
    abstract.sun_family = AF_UNIX;
    std::memcpy(abstract.sun_path + 1, path.c_str(), path.size());
    return !Connects(abstract, static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + path.size()));
}

std::string DisplayCheck::Problem(const char* platform, const char* display, const char* waylandDisplay) {
    const std::string p = Set(platform) ? platform : "";
    const bool wantsX = p.rfind("xcb", 0) == 0;
    const bool wantsWayland = p.rfind("wayland", 0) == 0;
    if (!p.empty() && !wantsX && !wantsWayland) return {};  // offscreen, vnc, eglfs, ...: no display needed
    if (wantsWayland || (p.empty() && Set(waylandDisplay))) {
        if (Set(waylandDisplay)) return {};
        return std::string("no display to open the window on (WAYLAND_DISPLAY is not set)") + kHint;
    }
    if (!Set(display))
        return std::string("no display to open the window on (neither DISPLAY nor WAYLAND_DISPLAY is set)") +
               kHint;
    if (LocalXDisplayDead(display))
        return std::string("the X display ") + display + " does not answer" + kHint;
    return {};
}

std::string DisplayCheck::Problem() {
    return Problem(std::getenv("QT_QPA_PLATFORM"), std::getenv("DISPLAY"), std::getenv("WAYLAND_DISPLAY"));
}

}  // namespace varnel
