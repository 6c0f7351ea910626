#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <set>
#include <string>

#include "settings/ConfigLocation.h"

namespace varnel {
namespace {

namespace fs = std::filesystem;

// An environment with the given variables, the program's own folder and the files that exist.
struct FakeEnv {
    std::map<std::string, std::string> vars;
    std::string writable;  // the one folder that is the program's own, or empty
    std::set<std::string> files;

    ConfigLocation::Environment Make(const std::string& exe, const std::string& userHome = "") const {
        ConfigLocation::Environment env;
        env.executablePath = exe;
        env.getenv = [this](const char* name) -> const char* {
            auto it = vars.find(name);
            return it == vars.end() ? nullptr : it->second.c_str();
        };
        env.isOwnFolder = [this](const std::string& dir) { return !writable.empty() && dir == writable; };
        env.isFile = [this](const std::string& path) { return files.count(path) != 0; };
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

    // "/" is a system folder even for root, who owns it; a settings file already there is used.
    FakeEnv root{{{"HOME", "/root"}}, "/"};
    EXPECT_EQ(ConfigLocation(root.Make("/varnel"), std::nullopt).SettingsPath(),
              "/root/.config/varnel/varnel.ini");
    root.files = {"/varnel.ini"};
    EXPECT_EQ(ConfigLocation(root.Make("/varnel"), std::nullopt).SettingsPath(), "/varnel.ini");
}

TEST(ConfigLocationTest, SystemFoldersAreNeverTheProgramsOwnUnlessAPortableCopyIsThere) {
    for (const char* folder : {"/usr/bin", "/usr/local/bin", "/bin", "/usr/sbin", "/sbin", "/usr/local/sbin",
                               "/opt/varnel/bin", "/opt/vendor/tools/sbin", "/usr/lib/varnel"}) {
        FakeEnv asRoot{{{"HOME", "/root"}}, folder};
        ConfigLocation loc(asRoot.Make(std::string(folder) + "/varnel"), std::nullopt);
        EXPECT_EQ(loc.source(), ConfigLocation::Source::kUserConfig) << folder;
        EXPECT_EQ(loc.folder(), "/root/.config/varnel") << folder;
        asRoot.files = {std::string(folder) + "/varnel.ini"};
        EXPECT_EQ(ConfigLocation(asRoot.Make(std::string(folder) + "/varnel"), std::nullopt).folder(), folder)
            << "a portable copy in " << folder;
    }
    for (const char* folder : {"/opt/varnel", "/home/u/src/varnel/build", "/usrlocal/bin", "/optical/bin"})
        EXPECT_FALSE(ConfigLocation::IsSystemFolder(folder)) << folder;
    // A folder that is not the program's own (a user's build folder under sudo) is not used either.
    FakeEnv sudo{{{"HOME", "/root"}}, ""};
    EXPECT_EQ(ConfigLocation(sudo.Make("/home/u/build/varnel"), std::nullopt).folder(),
              "/root/.config/varnel");
    sudo.files = {"/home/u/build/varnel.ini"};
    EXPECT_EQ(ConfigLocation(sudo.Make("/home/u/build/varnel"), std::nullopt).folder(), "/home/u/build");
}

TEST(ConfigLocationTest, TheRealOwnFolderTestWantsTheRunningUsersFolder) {
    char tmpl[] = "/tmp/varnel-own-XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    const std::string dir = tmpl;
    ConfigLocation::Environment env = ConfigLocation::ThisProcess();
    EXPECT_TRUE(env.isOwnFolder(dir));
    EXPECT_FALSE(env.isFile(dir + "/varnel.ini"));
    ::close(::creat((dir + "/varnel.ini").c_str(), 0600));
    EXPECT_TRUE(env.isFile(dir + "/varnel.ini"));
    EXPECT_FALSE(env.isFile(dir)) << "a folder is no file";
    if (::geteuid() == 0) {
        // Writable by everyone, root included, but another user's.
        ASSERT_EQ(::chmod(tmpl, 0777), 0);
        ASSERT_EQ(::chown(tmpl, 65534, 65534), 0);
        EXPECT_FALSE(env.isOwnFolder(dir));
    }
    fs::remove_all(dir);
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
