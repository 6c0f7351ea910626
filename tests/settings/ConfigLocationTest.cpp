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

// An environment with the given variables and the files that exist.
struct FakeEnv {
    std::map<std::string, std::string> vars;
    std::set<std::string> files;

    ConfigLocation::Environment Make(const std::string& exe, const std::string& userHome = "") const {
        ConfigLocation::Environment env;
        env.executablePath = exe;
        env.getenv = [this](const char* name) -> const char* {
            auto it = vars.find(name);
            return it == vars.end() ? nullptr : it->second.c_str();
        };
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

TEST(ConfigLocationTest, OnlyASettingsFileAlreadyBesideTheExecutableKeepsTheFilesThere) {
    // A folder the user owns (a build folder, ~/.local/bin) is no opt-in: the user's config folder.
    FakeEnv fake{{{"XDG_CONFIG_HOME", "/xdg"}, {"HOME", "/home/u"}}};
    ConfigLocation own(fake.Make("/home/u/src/varnel/build/mon.bin"), std::nullopt);
    EXPECT_EQ(own.source(), ConfigLocation::Source::kUserConfig);
    EXPECT_EQ(own.SettingsPath(), "/xdg/varnel/mon.ini");

    // A portable copy: its settings file is there, wherever that is.
    for (const char* folder : {"/opt/tools", "/usr/local/bin", "/", "/home/u/build"}) {
        const std::string exe = std::string(folder) + (folder[1] != 0 ? "/" : "") + "mon.bin";
        fake.files = {std::string(folder) + (folder[1] != 0 ? "/" : "") + "mon.ini"};
        ConfigLocation loc(fake.Make(exe), std::nullopt);
        EXPECT_EQ(loc.source(), ConfigLocation::Source::kExecutableFolder) << folder;
        EXPECT_EQ(loc.folder(), folder);
        EXPECT_EQ(loc.baseName(), "mon");
        EXPECT_EQ(loc.RuleFilePath(), (fs::path(folder) / "mon_autoblock.txt").string());
    }
    // Another program's settings file is no opt-in for this one.
    fake.files = {"/opt/tools/varnel.ini"};
    EXPECT_EQ(ConfigLocation(fake.Make("/opt/tools/mon"), std::nullopt).folder(), "/xdg/varnel");
}

TEST(ConfigLocationTest, TheRealFileTestWantsARegularFile) {
    char tmpl[] = "/tmp/varnel-own-XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    const std::string dir = tmpl;
    ConfigLocation::Environment env = ConfigLocation::ThisProcess();
    EXPECT_FALSE(env.isFile(dir + "/varnel.ini"));
    ::close(::creat((dir + "/varnel.ini").c_str(), 0600));
    EXPECT_TRUE(env.isFile(dir + "/varnel.ini"));
    EXPECT_FALSE(env.isFile(dir)) << "a folder is no file";
    fs::remove_all(dir);
}

TEST(ConfigLocationTest, UnwritableExecutableFolderFallsBackToUserConfig) {
    FakeEnv fake{{{"XDG_CONFIG_HOME", "/xdg/cfg/"}, {"HOME", "/home/u"}}};
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

    // An unknown executable path has no folder to look in.
    FakeEnv any{{{"HOME", "/h"}}, {"varnel.ini", "./varnel.ini"}};
    ConfigLocation unknown(any.Make(""), std::nullopt);
    EXPECT_EQ(unknown.SettingsPath(), "/h/.config/varnel/varnel.ini");
}

TEST(ConfigLocationTest, ConfigDirOverridesEverything) {
    FakeEnv fake{{{"XDG_CONFIG_HOME", "/xdg"}}, {"/opt/tools/mon.ini"}};
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

    // An executable deleted while it runs reads back from /proc with a mark: the path it had.
    const std::string deleted = std::string(tmpl) + "/exe";
    fs::create_symlink("/home/u/build/varnel (deleted)", deleted);
    EXPECT_EQ(ConfigLocation::ExecutablePath(deleted.c_str()), "/home/u/build/varnel");
    fs::remove(deleted);
    fs::create_symlink("/opt/varnel", deleted);
    EXPECT_EQ(ConfigLocation::ExecutablePath(deleted.c_str()), "/opt/varnel");
    fs::remove_all(tmpl);
}

}  // namespace
}  // namespace varnel
