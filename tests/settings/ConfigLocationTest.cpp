#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <string>

#include "settings/ConfigLocation.h"

namespace varnel {
namespace {

namespace fs = std::filesystem;

// An environment with the given variables and a chosen set of writable folders.
struct FakeEnv {
    std::map<std::string, std::string> vars;
    std::string writable;  // the one writable folder, or empty

    ConfigLocation::Environment Make(const std::string& exe, const std::string& userHome = "") const {
        ConfigLocation::Environment env;
        env.executablePath = exe;
        env.getenv = [this](const char* name) -> const char* {
            auto it = vars.find(name);
            return it == vars.end() ? nullptr : it->second.c_str();
        };
        env.isWritableDir = [this](const std::string& dir) { return !writable.empty() && dir == writable; };
        env.userHome = userHome;
        return env;
    }
};

TEST(ConfigLocationTest, BaseNameDropsFolderAndLastExtension) {
    EXPECT_EQ(ConfigLocation::BaseNameOf("/usr/bin/varnel"), "varnel");
    EXPECT_EQ(ConfigLocation::BaseNameOf("/opt/a.b.exe"), "a.b");
    EXPECT_EQ(ConfigLocation::BaseNameOf("/opt/dir.d/mon"), "mon");
    EXPECT_EQ(ConfigLocation::BaseNameOf("/opt/.hidden"), ".hidden");
    EXPECT_EQ(ConfigLocation::BaseNameOf("mon.EXE"), "mon");
    EXPECT_EQ(ConfigLocation::BaseNameOf(""), "varnel");
}

TEST(ConfigLocationTest, WritableExecutableFolderHoldsTheFiles) {
    FakeEnv fake{{{"XDG_CONFIG_HOME", "/xdg"}, {"HOME", "/home/u"}}, "/opt/tools"};
    ConfigLocation loc(fake.Make("/opt/tools/mon.bin"), std::nullopt);
    EXPECT_EQ(loc.source(), ConfigLocation::Source::kExecutableFolder);
    EXPECT_EQ(loc.folder(), "/opt/tools");
    EXPECT_EQ(loc.baseName(), "mon");
    EXPECT_EQ(loc.SettingsPath(), "/opt/tools/mon.ini");
    EXPECT_EQ(loc.RuleFilePath(), "/opt/tools/mon_autoblock.txt");

    FakeEnv root{{}, "/"};
    EXPECT_EQ(ConfigLocation(root.Make("/varnel"), std::nullopt).SettingsPath(), "/varnel.ini");
}

TEST(ConfigLocationTest, UnwritableExecutableFolderFallsBackToUserConfig) {
    FakeEnv fake{{{"XDG_CONFIG_HOME", "/xdg/cfg/"}, {"HOME", "/home/u"}}, "/somewhere/else"};
    ConfigLocation xdg(fake.Make("/usr/bin/varnel"), std::nullopt);
    EXPECT_EQ(xdg.source(), ConfigLocation::Source::kUserConfig);
    EXPECT_EQ(xdg.folder(), "/xdg/cfg/varnel");
    EXPECT_EQ(xdg.SettingsPath(), "/xdg/cfg/varnel/varnel.ini");

    // Unset, empty or relative XDG_CONFIG_HOME: ~/.config.
    fake.vars.erase("XDG_CONFIG_HOME");
    EXPECT_EQ(ConfigLocation(fake.Make("/usr/bin/varnel"), std::nullopt).folder(), "/home/u/.config/varnel");
    fake.vars["XDG_CONFIG_HOME"] = "";
    EXPECT_EQ(ConfigLocation(fake.Make("/usr/bin/varnel"), std::nullopt).folder(), "/home/u/.config/varnel");
    fake.vars["XDG_CONFIG_HOME"] = "rel/cfg";
    EXPECT_EQ(ConfigLocation(fake.Make("/usr/bin/varnel"), std::nullopt).folder(), "/home/u/.config/varnel");

    // No HOME: the user database's home folder.
    fake.vars.erase("HOME");
    ConfigLocation noHome(fake.Make("/usr/bin/mon", "/var/lib/u"), std::nullopt);
    EXPECT_EQ(noHome.RuleFilePath(), "/var/lib/u/.config/varnel/mon_autoblock.txt");

    // An unknown executable path is never treated as writable.
    FakeEnv any{{{"HOME", "/h"}}, "."};
    ConfigLocation unknown(any.Make(""), std::nullopt);
    EXPECT_EQ(unknown.SettingsPath(), "/h/.config/varnel/varnel.ini");
}

TEST(ConfigLocationTest, ConfigDirOverridesEverything) {
    FakeEnv fake{{{"XDG_CONFIG_HOME", "/xdg"}}, "/opt/tools"};
    ConfigLocation loc(fake.Make("/opt/tools/mon"), std::string("/etc/mon//"));
    EXPECT_EQ(loc.source(), ConfigLocation::Source::kCommandLine);
    EXPECT_EQ(loc.folder(), "/etc/mon");
    EXPECT_EQ(loc.SettingsPath(), "/etc/mon/mon.ini");
    EXPECT_EQ(loc.RuleFilePath(), "/etc/mon/mon_autoblock.txt");
    EXPECT_EQ(ConfigLocation(fake.Make("/opt/tools/mon"), std::string("cfg")).SettingsPath(), "cfg/mon.ini");
    // An empty folder is no override.
    EXPECT_EQ(ConfigLocation(fake.Make("/opt/tools/mon"), std::string()).folder(), "/opt/tools");
}

TEST(ConfigLocationTest, RealProcessFindsItselfAndCreatesTheFolder) {
    std::string exe = ConfigLocation::ExecutablePath();
    ASSERT_FALSE(exe.empty());
    EXPECT_EQ(exe.front(), '/');
    EXPECT_TRUE(fs::exists(exe));
    EXPECT_EQ(ConfigLocation::BaseNameOf(exe), fs::path(exe).stem().string());

    char tmpl[] = "/tmp/varnel-config-XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    const std::string dir = std::string(tmpl) + "/a/b";
    ConfigLocation loc = ConfigLocation::ForThisProcess(dir);
    EXPECT_TRUE(fs::is_directory(dir));
    struct stat st;
    ASSERT_EQ(::stat(dir.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    EXPECT_EQ(loc.SettingsPath(), dir + "/" + ConfigLocation::BaseNameOf(exe) + ".ini");
    EXPECT_TRUE(loc.EnsureFolder());  // already there

    // A file in the way is not a folder.
    const std::string file = std::string(tmpl) + "/file";
    ::close(::creat(file.c_str(), 0600));
    EXPECT_FALSE(ConfigLocation(ConfigLocation::Environment{}, file).EnsureFolder());
    fs::remove_all(tmpl);
}

}  // namespace
}  // namespace varnel
