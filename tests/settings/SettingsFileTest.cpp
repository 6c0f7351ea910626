#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "settings/IniDocument.h"
#include "settings/SettingsFile.h"

namespace varnel {
namespace {

namespace fs = std::filesystem;

class SettingsFileTest : public ::testing::Test {
  protected:
    void SetUp() override { MakeDir("/tmp"); }
    void TearDown() override { fs::remove_all(dir_); }

    // A fresh folder under `parent` holding the settings file path.
    void MakeDir(const std::string& parent) {
        if (!dir_.empty()) fs::remove_all(dir_);
        std::string tmpl = parent + "/varnel-settings-XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl.data()), nullptr);
        dir_ = tmpl;
        path_ = dir_ + "/varnel.ini";
    }
    void Put(const std::string& text) { std::ofstream(path_, std::ios::binary) << text; }
    std::string Get() const {
        std::ifstream in(path_, std::ios::binary);
        std::ostringstream s;
        s << in.rdbuf();
        return s.str();
    }
    size_t FilesInDir() const {
        return static_cast<size_t>(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()));
    }

    std::string dir_;
    std::string path_;
};

TEST_F(SettingsFileTest, MissingFileSectionOrKeyGivesTheDefault) {
    SettingsFile f(path_);
    EXPECT_EQ(f.ReadInt("Session", "AutoStart", 7), 7);
    EXPECT_EQ(f.ReadString("Session", "Name", "dflt"), "dflt");
    EXPECT_EQ(f.ReadString("Session", "Name"), "");
    EXPECT_FALSE(fs::exists(path_));  // reads never create the file

    Put("[Session]\nOther=1\n");
    EXPECT_EQ(f.ReadInt("Session", "AutoStart", -3), -3);
    EXPECT_EQ(f.ReadInt("Nope", "Other", 5), 5);
    EXPECT_EQ(f.ReadString("Session", "Other", "d"), "1");
}

TEST_F(SettingsFileTest, ReadIntTakesTheLeadingDecimalInteger) {
    Put("[S]\na=12abc\nb= -42 \nc=+8\nd=abc\ne=\nf=0x1F\ng=- 5\nh=99999999999\ni=-99999999999\n"
        "j=-2147483648\nk=4294967295\nl=3.9\n");
    SettingsFile f(path_);
    EXPECT_EQ(f.ReadInt("S", "a", 0), 12);
    EXPECT_EQ(f.ReadInt("S", "b", 0), -42);
    EXPECT_EQ(f.ReadInt("S", "c", 0), 8);
    // A present key that holds no number reads as 0; the default is for a missing key alone.
    EXPECT_EQ(f.ReadInt("S", "d", 77), 0);
    EXPECT_EQ(f.ReadInt("S", "e", 77), 0);
    EXPECT_EQ(f.ReadInt("S", "f", 77), 0);
    EXPECT_EQ(f.ReadInt("S", "g", 77), 0);
    EXPECT_EQ(f.ReadInt("S", "missing", 77), 77);
    EXPECT_FALSE(f.ReadSwitch("S", "d", true));
    EXPECT_TRUE(f.ReadSwitch("S", "missing", true));
    EXPECT_EQ(f.ReadInt("S", "h", 0), INT_MAX);
    EXPECT_EQ(f.ReadInt("S", "i", 0), INT_MIN);
    EXPECT_EQ(f.ReadInt("S", "j", 0), INT_MIN);
    EXPECT_EQ(f.ReadInt("S", "k", 0), INT_MAX);
    EXPECT_EQ(f.ReadInt("S", "l", 0), 3);
}

TEST_F(SettingsFileTest, ReadStringCutsAt4095BytesOnACharacterBoundary) {
    SettingsFile f(path_);
    std::string exact(4095, 'x');
    ASSERT_TRUE(f.WriteString("S", "exact", exact));
    ASSERT_TRUE(f.WriteString("S", "long", std::string(5000, 'y')));
    // 4094 ASCII bytes then a 3-byte character that would straddle the limit.
    ASSERT_TRUE(f.WriteString("S", "utf8", std::string(4094, 'z') + "日本"));
    EXPECT_EQ(f.ReadString("S", "exact"), exact);
    EXPECT_EQ(f.ReadString("S", "long"), std::string(4095, 'y'));
    EXPECT_EQ(f.ReadString("S", "utf8"), std::string(4094, 'z'));
    // The whole value is stored; only the read is limited.
    EXPECT_NE(Get().find(std::string(5000, 'y')), std::string::npos);
}

TEST_F(SettingsFileTest, WritesCreateFileSectionAndKeyAndKeepTheRest) {
    SettingsFile f(path_);
    ASSERT_TRUE(f.WriteInt("Settings", "Width", -640));
    EXPECT_EQ(Get(), "[Settings]\nWidth=-640\n");

    Put("; by hand\r\n[Settings]\r\nWidth=1\r\n; note\r\n\r\n[Surveil]\r\nColor_Text = 255\r\n");
    ASSERT_TRUE(f.WriteInt("settings", "WIDTH", 800));
    ASSERT_TRUE(f.WriteString("Settings", "Title", " spaced "));
    ASSERT_TRUE(f.WriteString("Session", "AutoBlockLogFormat", "BLOCKED [$DATE$]\nX=1"));
    EXPECT_EQ(
        Get(),
        "; by hand\r\n[Settings]\r\nWidth=800\r\n; note\r\nTitle= spaced \r\n\r\n"
        "[Surveil]\r\nColor_Text = 255\r\n\r\n[Session]\r\nAutoBlockLogFormat=BLOCKED [$DATE$] X=1\r\n");
    EXPECT_EQ(f.ReadInt("Surveil", "Color_Text", 0), 255);
    EXPECT_EQ(f.ReadString("SETTINGS", "title"), "spaced");
    EXPECT_EQ(f.ReadInt("Session", "X", -1), -1);
    EXPECT_FALSE(f.WriteString("Bad]Name", "K", "v"));
    EXPECT_FALSE(f.WriteString("S", "K=", "v"));
    EXPECT_EQ(FilesInDir(), 1u);  // no temporary file left behind
}

TEST_F(SettingsFileTest, UnreadableOrUnwritableTargetsKeepTheOldFile) {
    SettingsFile f(path_);
    ASSERT_TRUE(f.WriteString("S", "K", "old"));
    const std::string before = Get();

    // The file system refuses the new text part way (file size limit): the write fails, the old
    // file stays whole and the temporary file is removed.
    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        ::signal(SIGXFSZ, SIG_IGN);
        struct rlimit lim = {4096, 4096};
        ::setrlimit(RLIMIT_FSIZE, &lim);
        bool ok = f.WriteString("S", "K", std::string(100000, 'n'));
        ::_exit(ok ? 1 : 0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "write reported success";
    EXPECT_EQ(Get(), before);
    EXPECT_EQ(FilesInDir(), 1u);

    // A folder where the file should be is neither read nor replaced.
    SettingsFile dirAsFile(dir_);
    EXPECT_EQ(dirAsFile.ReadInt("S", "K", 3), 3);
    EXPECT_FALSE(dirAsFile.WriteString("S", "K", "v"));
    EXPECT_TRUE(fs::is_directory(dir_));
    // A missing folder: the write fails and creates nothing.
    SettingsFile nowhere(dir_ + "/missing/varnel.ini");
    EXPECT_FALSE(nowhere.WriteInt("S", "K", 1));
    EXPECT_FALSE(fs::exists(dir_ + "/missing"));
}

TEST_F(SettingsFileTest, ReplacingKeepsModeAndSymbolicLinks) {
    Put("[S]\nK=1\n");
    ASSERT_EQ(::chmod(path_.c_str(), 0640), 0);
    const std::string link = dir_ + "/link.ini";
    ASSERT_EQ(::symlink(path_.c_str(), link.c_str()), 0);
    SettingsFile viaLink(link);
    ASSERT_TRUE(viaLink.WriteInt("S", "K", 2));
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(Get(), "[S]\nK=2\n");
    struct stat st;
    ASSERT_EQ(::stat(path_.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
}

TEST_F(SettingsFileTest, AReadOnlyFileIsKeptAndTheFailureToldOncePerRun) {
    Put("[S]\nK=1\n");
    ASSERT_EQ(::chmod(path_.c_str(), 0444), 0);
    SettingsFile f(path_);
    std::vector<std::string> told;
    f.SetFailureListener([&](const std::string& line) { told.push_back(line); });
    EXPECT_FALSE(f.WriteInt("S", "K", 2)) << "read-only by intent, also for root";
    EXPECT_FALSE(f.WriteInt("S", "Other", 3));
    EXPECT_EQ(Get(), "[S]\nK=1\n");
    ASSERT_EQ(told.size(), 1u);
    EXPECT_EQ(told[0], "settings not saved to " + path_ + ": the file is read-only");
    struct stat st;
    ASSERT_EQ(::stat(path_.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0444u);

    // A write that works arms the report again.
    ASSERT_EQ(::chmod(path_.c_str(), 0644), 0);
    EXPECT_TRUE(f.WriteInt("S", "K", 2));
    ASSERT_EQ(::chmod(path_.c_str(), 0444), 0);
    EXPECT_FALSE(f.WriteInt("S", "K", 3));
    EXPECT_EQ(told.size(), 2u);
    EXPECT_EQ(Get(), "[S]\nK=2\n");

    SettingsFile folder(dir_);
    folder.SetFailureListener([&](const std::string& line) { told.push_back(line); });
    EXPECT_FALSE(folder.WriteInt("S", "K", 1));
    ASSERT_EQ(told.size(), 3u);
    EXPECT_EQ(told[2], "settings not saved to " + dir_ + ": the name is a folder");
}

// Owners are kept: root writing a user's file leaves it the user's; a user who may write another
// user's file (its mode lets everyone) does not take it over by replacing it.
TEST_F(SettingsFileTest, ReplacingKeepsTheOwnerOrDoesNotHappen) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to hand files to another user";
    constexpr uid_t kNobody = 65534;
    ASSERT_EQ(::chmod(dir_.c_str(), 0777), 0);
    Put("[S]\nK=1\n");
    ASSERT_EQ(::chown(path_.c_str(), kNobody, kNobody), 0);
    ASSERT_EQ(::chmod(path_.c_str(), 0640), 0);
    ASSERT_TRUE(SettingsFile(path_).WriteInt("S", "K", 2));
    struct stat st;
    ASSERT_EQ(::stat(path_.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, kNobody) << "root keeps the user's owner";
    EXPECT_EQ(st.st_mode & 07777, 0640u);

    // Now root's file, writable by everyone; a child that is nobody tries to write it.
    ASSERT_EQ(::chown(path_.c_str(), 0, 0), 0);
    ASSERT_EQ(::chmod(path_.c_str(), 0666), 0);
    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        if (::setgid(kNobody) != 0 || ::setuid(kNobody) != 0) ::_exit(2);
        ::_exit(SettingsFile(path_).WriteInt("S", "K", 3) ? 1 : 0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the write reported success";
    ASSERT_EQ(::stat(path_.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, 0u);
    EXPECT_EQ(Get(), "[S]\nK=2\n");
    EXPECT_EQ(FilesInDir(), 1u);
}

// A writer killed at any moment leaves the old or the new file, whole.
TEST_F(SettingsFileTest, KilledWriterNeverLeavesAPartialFile) {
    // The file system's own durability is not under test here, only what a kill leaves; memory
    // backed storage makes each write quick, so many kills fit in the time.
    if (fs::is_directory("/dev/shm")) MakeDir("/dev/shm");
    std::string base;
    for (int s = 0; s < 20; ++s) {
        base += "[Section" + std::to_string(s) + "]\n";
        for (int k = 0; k < 20; ++k)
            base += "Key" + std::to_string(k) + "=" + std::string(40, 'a' + k) + "\n";
    }
    const std::string a(150000, 'A'), b(150000, 'B');
    auto with = [&base](const std::string& blob) {
        IniDocument d = IniDocument::Parse(base);
        d.Set("Section7", "Blob", blob);
        return d.Serialize();
    };
    const std::string initial = with("initial"), textA = with(a), textB = with(b);
    Put(initial);

    std::mt19937 rng(12345);
    const auto start = std::chrono::steady_clock::now();
    int iterations = 0, seenA = 0, seenB = 0;
    while (iterations < 200 && std::chrono::steady_clock::now() - start < std::chrono::seconds(3)) {
        ++iterations;
        int report[2];
        ASSERT_EQ(::pipe(report), 0);
        pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            // Writes B, A, B, ... and reports how long each whole write took.
            ::close(report[0]);
            SettingsFile f(path_);
            for (unsigned i = 0;; ++i) {
                auto t0 = std::chrono::steady_clock::now();
                f.WriteString("Section7", "Blob", i % 2 ? a : b);
                int64_t us = std::chrono::duration_cast<std::chrono::microseconds>(
                                 std::chrono::steady_clock::now() - t0)
                                 .count();
                if (::write(report[1], &us, sizeof us) != sizeof us) ::_exit(1);
            }
        }
        ::close(report[1]);
        // After the first whole write, kill at a random moment within about the next two writes, so
        // that the kills land at every stage of a write however slow the disk is right now.
        struct pollfd p = {report[0], POLLIN, 0};
        int64_t us = 0;
        bool wrote = ::poll(&p, 1, 2000) == 1 && ::read(report[0], &us, sizeof us) == sizeof us;
        if (wrote)
            ::usleep(std::uniform_int_distribution<unsigned>(0, 2 * static_cast<unsigned>(us) + 200)(rng));
        ::kill(pid, SIGKILL);
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        ::close(report[0]);
        ASSERT_TRUE(wrote) << "the writer finished no write within 2 s";
        const std::string now = Get();
        ASSERT_TRUE(now == textA || now == textB)
            << "iteration " << iterations << ": " << now.size() << " bytes";
        seenA += now == textA;
        seenB += now == textB;
        EXPECT_EQ(SettingsFile(path_).ReadString("Section3", "Key2"), std::string(40, 'c'));
    }
    // Kills fell both before and after the second write completed.
    EXPECT_GT(seenA, 0);
    EXPECT_GT(seenB, 0);
}

// Two processes sharing one file, each writing its own keys at the same time: no write is lost.
TEST_F(SettingsFileTest, ConcurrentWritersInTwoProcessesLoseNoKey) {
    if (fs::is_directory("/dev/shm")) MakeDir("/dev/shm");  // quick writes make the races dense
    constexpr int kKeys = 200;
    pid_t children[2];
    for (int c = 0; c < 2; ++c) {
        children[c] = ::fork();
        ASSERT_GE(children[c], 0);
        if (children[c] == 0) {
            SettingsFile f(path_);
            bool ok = true;
            for (int k = 0; k < kKeys; ++k)
                ok = f.WriteInt("Writer" + std::to_string(c), "Key" + std::to_string(k), k) && ok;
            ::_exit(ok ? 0 : 1);
        }
    }
    for (pid_t child : children) {
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "a write failed";
    }
    SettingsFile f(path_);
    int missing = 0;
    for (int c = 0; c < 2; ++c)
        for (int k = 0; k < kKeys; ++k)
            missing += f.ReadInt("Writer" + std::to_string(c), "Key" + std::to_string(k), -1) != k;
    EXPECT_EQ(missing, 0);
    EXPECT_EQ(FilesInDir(), 1u) << "the lock leaves nothing beside the file";
}

// Two copies of the program share the file and each writes its keys when it ends: what one changed
// survives the other's end, and a key missing from the file is still written.
TEST_F(SettingsFileTest, TwoCopiesKeepEachOthersChanges) {
    Put("[Settings]\nX=1\nY=1\nEmpty=\n");
    SettingsFile a(path_), b(path_);
    for (const SettingsFile* copy : {&a, &b}) {  // both start up
        EXPECT_EQ(copy->ReadInt("Settings", "X", 5), 1);
        EXPECT_EQ(copy->ReadInt("Settings", "Y", 5), 1);
        EXPECT_EQ(copy->ReadInt("Settings", "Z", 5), 5);
    }
    ASSERT_TRUE(a.WriteInt("Settings", "X", 2));  // A's user changes X, B's changes Y
    ASSERT_TRUE(b.WriteInt("Settings", "Y", 3));
    for (int x : {2, 1}) {  // A ends, then B, each writing every key it holds
        SettingsFile& copy = x == 2 ? a : b;
        SettingsFile alsoThisProgram(copy);  // a copy of the object is the same program
        ASSERT_TRUE(alsoThisProgram.WriteInt("Settings", "X", x));
        ASSERT_TRUE(copy.WriteInt("Settings", "Y", x == 2 ? 1 : 3));
        ASSERT_TRUE(copy.WriteInt("Settings", "Z", 5));
    }
    EXPECT_EQ(Get(), "[Settings]\nX=2\nY=3\nEmpty=\nZ=5\n");
    // A value changed and changed back is written again: the file's other value is not this copy's.
    ASSERT_TRUE(b.WriteInt("Settings", "X", 7));
    ASSERT_TRUE(b.WriteInt("Settings", "X", 1));
    EXPECT_EQ(SettingsFile(path_).ReadInt("Settings", "X", 0), 1);
}

// Every key of the table reads its default when missing, is clamped to its range, and a switch
// reads 2 as its entry says; an int read at its default and written back leaves the file alone.
TEST_F(SettingsFileTest, TheKeyTableGivesDefaultsClampsAndSwitchReadings) {
    SettingsFile f(path_);
    for (const IntKey* k : SettingsKeys::kAllInts) EXPECT_EQ(f.Read(*k), k->defaultValue) << k->name;
    for (const SwitchKey* k : SettingsKeys::kAllSwitches) EXPECT_EQ(f.Read(*k), k->defaultOn) << k->name;
    for (const TextKey* k : SettingsKeys::kAllTexts) EXPECT_EQ(f.Read(*k), k->defaultText) << k->name;

    std::string text;
    for (const char* section : {SettingsKeys::kSettingsSection, SettingsKeys::kSessionSection}) {
        text += std::string("[") + section + "]\n";
        for (const IntKey* k : SettingsKeys::kAllInts)
            if (std::string(k->section) == section) text += std::string(k->name) + "=-99999999999\n";
        for (const SwitchKey* k : SettingsKeys::kAllSwitches)
            if (std::string(k->section) == section) text += std::string(k->name) + "=2\n";
    }
    Put(text);
    SettingsFile low(path_);
    for (const IntKey* k : SettingsKeys::kAllInts) EXPECT_EQ(low.Read(*k), k->min) << k->name;
    for (const SwitchKey* k : SettingsKeys::kAllSwitches) EXPECT_EQ(low.Read(*k), !k->onlyOne) << k->name;
    for (const IntKey* k : SettingsKeys::kAllInts) ASSERT_TRUE(low.Write(*k, low.Read(*k)));
    EXPECT_EQ(Get(), text);  // a clamped value read and written back is no change of this program
    Put("[Session]\nSplitSize=5000\nResetMaxConnections=0\n");
    EXPECT_EQ(f.Read(SettingsKeys::kSplitSize), 1200);
    EXPECT_EQ(f.Read(SettingsKeys::kResetMaxConnections), 1);
}

// A batch is one rewrite of the file, written at Commit, and keeps the rule of single writes: a key
// this program did not change is left as another copy wrote it.
TEST_F(SettingsFileTest, ABatchIsOneRewriteAndWritesOnlyChangedKeys) {
    Put("[Settings]\nX=1\nY=1\n");
    SettingsFile a(path_), b(path_);
    EXPECT_EQ(a.ReadInt("Settings", "X", 0), 1);
    EXPECT_EQ(a.ReadInt("Settings", "Y", 0), 1);
    ASSERT_TRUE(b.WriteInt("Settings", "Y", 3));

    const int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(watch, 0);
    // Each rewrite creates its own temporary file (distinct names: the events are not merged).
    ASSERT_GE(::inotify_add_watch(watch, dir_.c_str(), IN_CREATE), 0);
    auto rewrites = [watch] {
        int count = 0;
        alignas(struct inotify_event) char buf[4096];
        for (ssize_t n; (n = ::read(watch, buf, sizeof buf)) > 0;) {
            for (char* p = buf; p < buf + n; ++count) {
                const auto* event = reinterpret_cast<const struct inotify_event*>(p);
                p += sizeof(struct inotify_event) + event->len;
            }
        }
        return count;
    };
    {
        SettingsFile::Batch batch(a);
        batch.SetInt("Settings", "X", 2);  // changed by this copy
        batch.SetInt("Settings", "Y", 1);  // as it read it: B's 3 stays
        batch.SetString("Session", "Z", "new");  // missing from the file
        batch.Set(SettingsKeys::kBlockedLog, false);
        EXPECT_EQ(Get(), "[Settings]\nX=1\nY=3\n");  // nothing before Commit
        ASSERT_TRUE(batch.Commit());
    }
    EXPECT_EQ(rewrites(), 1);
    EXPECT_EQ(Get(), "[Settings]\nX=2\nY=3\n\n[Session]\nZ=new\nBlockedLog=0\n");
    {
        SettingsFile::Batch dropped(a);  // never committed: writes nothing
        dropped.SetInt("Settings", "X", 9);
    }
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(a.WriteInt("Settings", "W", i));
    EXPECT_EQ(rewrites(), 3);  // single writes: one rewrite each
    ::close(watch);
    EXPECT_EQ(SettingsFile(path_).ReadInt("Settings", "X", 0), 2);
    SettingsFile::Batch bad(a);
    bad.SetInt("Settings", "bad=name", 1);
    EXPECT_FALSE(bad.Commit());
}

// A large file is parsed once, not at every read: 2,000 reads of a 1 MB file take a few stats.
TEST_F(SettingsFileTest, AnUnchangedFileIsParsedOnce) {
    std::string text = "[Session]\nAutoBlock=1\n[Filler]\n";
    for (int i = 0; text.size() < 1000000; ++i)
        text += "Key" + std::to_string(i) + "=" + std::string(40, 'x') + "\n";
    text += "[Surveil]\nColor_com=255\n";
    Put(text);
    SettingsFile f(path_);
    const auto start = std::chrono::steady_clock::now();
    long sum = 0;
    for (int i = 0; i < 1000; ++i)
        sum += f.ReadInt("Surveil", "color_COM", 0) + f.ReadString(" session ", "AutoBlock", "0").size();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
    EXPECT_EQ(sum, 1000 * 256);
    EXPECT_EQ(f.parseCount(), 1u);
    EXPECT_EQ(f.ReadString("Filler", "Key7"), std::string(40, 'x'));
    EXPECT_EQ(f.ReadInt("Filler", "NoSuchKey", -1), -1);
}

// What another process or instance writes is seen at the next read, the same size included.
TEST_F(SettingsFileTest, AChangeOnDiskIsSeenAtTheNextRead) {
    SettingsFile reader(path_), writer(path_);
    EXPECT_EQ(reader.ReadInt("S", "K", -1), -1);
    ASSERT_TRUE(writer.WriteInt("S", "K", 1));
    EXPECT_EQ(reader.ReadInt("S", "K", -1), 1);
    ASSERT_TRUE(writer.WriteInt("S", "K", 2));  // same size, new file
    EXPECT_EQ(reader.ReadInt("S", "K", -1), 2);
    Put("[S]\nK=30\n");  // rewritten in place by hand
    EXPECT_EQ(reader.ReadInt("S", "K", -1), 30);
    {
        // Edited in place within the same second, same size: only the nanoseconds tell.
        struct stat before;
        ASSERT_EQ(::stat(path_.c_str(), &before), 0);
        const int fd = ::open(path_.c_str(), O_WRONLY);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::pwrite(fd, "31", 2, 6), 2);
        ::close(fd);
        const struct timespec times[2] = {before.st_atim,
                                          {before.st_mtim.tv_sec, (before.st_mtim.tv_nsec + 1) % 1000000000}};
        ASSERT_EQ(::utimensat(AT_FDCWD, path_.c_str(), times, 0), 0);
        EXPECT_EQ(reader.ReadInt("S", "K", -1), 31);
        ASSERT_EQ(::utimensat(AT_FDCWD, path_.c_str(), times, 0), 0);
        Put("[S]\nK=30\n");
    }
    EXPECT_EQ(reader.ReadInt("S", "K", -1), 30);
    // The reader's own write is seen without parsing the unchanged file again.
    const size_t parses = reader.parseCount();
    ASSERT_TRUE(reader.WriteInt("S", "Other", 4));
    EXPECT_EQ(reader.ReadInt("S", "Other", -1), 4);
    EXPECT_EQ(reader.ReadInt("S", "K", -1), 30);
    EXPECT_EQ(reader.parseCount(), parses) << "neither the write nor the read after it parses again";
    ASSERT_TRUE(fs::remove(path_));
    EXPECT_EQ(reader.ReadInt("S", "K", -1), -1) << "a removed file gives the defaults";
}

TEST_F(SettingsFileTest, HundredReadsAreQuick) {
    SettingsFile f(path_);
    for (int i = 0; i < 40; ++i) ASSERT_TRUE(f.WriteInt("Surveil", "Color_" + std::to_string(i), i));
    const auto start = std::chrono::steady_clock::now();
    long sum = 0;
    for (int i = 0; i < 100; ++i) sum += f.ReadInt("Surveil", "Color_" + std::to_string(i % 40), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(200));
    EXPECT_EQ(sum, 1750);  // 2 * (0+..+39) + (0+..+19)
}

}  // namespace
}  // namespace varnel
