#include "settings/ConfigLocation.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace varnel {

namespace {

constexpr std::string_view kFolderName = "varnel";
constexpr std::string_view kDefaultBaseName = "varnel";

std::string StripTrailingSlashes(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

std::string Join(std::string_view folder, std::string_view name) {
    std::string out(folder);
    if (out.empty() || out.back() != '/') out += '/';
    out += name;
    return out;
}

const char* Lookup(const ConfigLocation::Environment& env, const char* name) {
    if (!env.getenv) return nullptr;
    const char* v = env.getenv(name);
    return v != nullptr && *v != '\0' ? v : nullptr;
}

std::string UserConfigFolder(const ConfigLocation::Environment& env) {
    const char* xdg = Lookup(env, "XDG_CONFIG_HOME");
    // Relative values are to be ignored: they would depend on the current folder.
    if (xdg != nullptr && xdg[0] == '/') return Join(StripTrailingSlashes(xdg), kFolderName);
    std::string home;
    if (const char* h = Lookup(env, "HOME"); h != nullptr && h[0] == '/') {
        home = h;
    } else {
        home = env.userHome;
    }
    if (home.empty()) return std::string(kFolderName);
    return Join(Join(StripTrailingSlashes(home), ".config"), kFolderName);
}

}  // namespace

std::string ConfigLocation::BaseNameOf(std::string_view executablePath) {
    size_t slash = executablePath.rfind('/');
    std::string_view name = slash == executablePath.npos ? executablePath : executablePath.substr(slash + 1);
    size_t dot = name.rfind('.');
    // A leading dot starts a hidden name, not an extension.
    if (dot != name.npos && dot > 0) name = name.substr(0, dot);
    return name.empty() ? std::string(kDefaultBaseName) : std::string(name);
}

ConfigLocation::ConfigLocation(const Environment& env, const std::optional<std::string>& configDir)
    : baseName_(BaseNameOf(env.executablePath)) {
    if (configDir && !configDir->empty()) {
        folder_ = StripTrailingSlashes(*configDir);
        source_ = Source::kCommandLine;
        return;
    }
    size_t slash = env.executablePath.rfind('/');
    if (slash != std::string::npos) {
        std::string exeFolder = slash == 0 ? std::string("/") : env.executablePath.substr(0, slash);
        if (env.isFile && env.isFile(Join(exeFolder, baseName_ + ".ini"))) {
            folder_ = exeFolder;
            source_ = Source::kExecutableFolder;
            return;
        }
    }
    folder_ = UserConfigFolder(env);
    source_ = Source::kUserConfig;
}

std::string ConfigLocation::PathOf(std::string_view fileName) const {
    return Join(folder_, fileName);
}

std::string ConfigLocation::ExecutablePath(const char* link) {
    std::vector<char> buf(4096);
    for (;;) {
        ssize_t n = ::readlink(link, buf.data(), buf.size());
        if (n < 0) return {};
        if (static_cast<size_t>(n) < buf.size()) {
            std::string path(buf.data(), static_cast<size_t>(n));
            // An executable replaced on disk while it runs (a rebuild, an upgrade) reads back with this
            // mark; the files still belong beside the new one.
            constexpr std::string_view kDeleted = " (deleted)";
            if (path.size() > kDeleted.size() &&
                path.compare(path.size() - kDeleted.size(), kDeleted.size(), kDeleted) == 0)
                path.resize(path.size() - kDeleted.size());
            return path;
        }
        buf.resize(buf.size() * 2);
    }
}

ConfigLocation::Environment ConfigLocation::ThisProcess() {
    Environment env;
    env.executablePath = ExecutablePath();
    env.getenv = [](const char* name) -> const char* { return std::getenv(name); };
    env.isFile = [](const std::string& path) {
        struct stat st;
        return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
    };
    struct passwd pw;
    struct passwd* found = nullptr;
    std::vector<char> buf(16384);
    if (::getpwuid_r(::getuid(), &pw, buf.data(), buf.size(), &found) == 0 && found != nullptr &&
        found->pw_dir != nullptr)
        env.userHome = found->pw_dir;
    return env;
}

ConfigLocation ConfigLocation::ForThisProcess(const std::optional<std::string>& configDir) {
    ConfigLocation location(ThisProcess(), configDir);
    location.EnsureFolder();
    return location;
}

bool ConfigLocation::CheckFolder(std::string& why) const {
    struct stat st;
    why = ::stat(folder_.c_str(), &st) == 0 && !S_ISDIR(st.st_mode) ? "not a folder" : "";
    return why.empty();
}

bool ConfigLocation::EnsureFolder(std::string& why) const {
    why.clear();
    struct stat st;
    if (::stat(folder_.c_str(), &st) == 0) {
        if (!S_ISDIR(st.st_mode)) why = "not a folder";
        return why.empty();
    }
    // Create each missing component from the top down.
    for (size_t pos = 1; pos <= folder_.size(); ++pos) {
        if (pos != folder_.size() && folder_[pos] != '/') continue;
        std::string part = folder_.substr(0, pos);
        if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) {
            why = std::string("cannot be made (") + std::strerror(errno) + ")";
            return false;
        }
    }
    if (::stat(folder_.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return true;
    why = "cannot be made (a file is in the way)";
    return false;
}

}  // namespace varnel
