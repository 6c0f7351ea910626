#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace varnel {

// Where the settings file, the rule file and the default block log live, and what they are called.
//
// The files are named after the executable's base name (its file name without the last extension:
// "varnel" stays "varnel", "a.b.exe" gives "a.b"). The folder is, in order of precedence:
//   1. the folder given with --config-dir;
//   2. the executable's folder, only when a settings file of that name is already there: the user's
//      opt-in to a portable copy. A folder the user merely owns (a build folder, ~/.local/bin) is
//      not enough: the files would be lost with it and the installed program would not find them;
//   3. $XDG_CONFIG_HOME/varnel when XDG_CONFIG_HOME is an absolute path, else $HOME/.config/varnel
//      (the home folder from the user database when HOME is unset or relative; the current folder
//      when there is none at all).
//
// Resolution has no side effects; EnsureFolder creates the folder. Threads: a plain value.
class ConfigLocation {
  public:
    enum class Source { kCommandLine, kExecutableFolder, kUserConfig };

    // What resolution looks at, injectable for tests. The functions may be empty: then nothing is
    // set and no file exists.
    struct Environment {
        std::string executablePath;                      // empty when unknown
        std::function<const char*(const char*)> getenv;  // environment variables
        std::function<bool(const std::string&)> isFile;  // a regular file at that path?
        std::string userHome;  // home folder from the user database, for an unset HOME; may be empty
    };

    ConfigLocation(const Environment& env, const std::optional<std::string>& configDir);

    // The real process: /proc/self/exe, the real environment and stat(2). Creates the folder when
    // it is missing (failure is silent: reads then give their defaults and writes fail).
    static ConfigLocation ForThisProcess(const std::optional<std::string>& configDir);
    static Environment ThisProcess();

    // The running executable's path from /proc/self/exe, or empty. An executable deleted or
    // replaced while it runs (a rebuild, an upgrade) still gives the path it was started from.
    static std::string ExecutablePath(const char* link = "/proc/self/exe");
    // File name of `executablePath` without its last extension; "varnel" when that is empty.
    static std::string BaseNameOf(std::string_view executablePath);

    // The folder, without a trailing '/' (except for "/" itself).
    const std::string& folder() const { return folder_; }
    const std::string& baseName() const { return baseName_; }
    Source source() const { return source_; }

    std::string SettingsPath() const { return PathOf(baseName_ + ".ini"); }
    std::string RuleFilePath() const { return PathOf(baseName_ + "_autoblock.txt"); }
    // `fileName` inside the folder.
    std::string PathOf(std::string_view fileName) const;

    // Creates the folder and any missing parents (new folders get mode 0700). True when it exists
    // afterwards; else `why` says what is wrong ("not a folder", or the reason it cannot be made).
    bool EnsureFolder(std::string& why) const;
    // For a reader that makes nothing: false, with `why`, when the path exists and is no folder. A
    // missing folder is fine (there is nothing to read in it).
    bool CheckFolder(std::string& why) const;
    bool EnsureFolder() const {
        std::string why;
        return EnsureFolder(why);
    }

  private:
    std::string folder_;
    std::string baseName_;
    Source source_ = Source::kUserConfig;
};

}  // namespace varnel
