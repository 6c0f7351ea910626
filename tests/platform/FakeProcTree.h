#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

// A directory laid out like the parts of /proc the Linux readers use: <pid>/fd/<n> links whose
// targets are texts such as "socket:[123]" (a symbolic link may name anything), <pid>/exe,
// <pid>/comm and net/tcp(6). Removed with everything in it when the object goes.
class FakeProcTree {
  public:
    FakeProcTree() {
        std::string pattern = (std::filesystem::temp_directory_path() / "varnel-proc-XXXXXX").string();
        root_ = mkdtemp(pattern.data());
    }
    ~FakeProcTree() {
        std::error_code ignored;
        std::filesystem::remove_all(root_, ignored);
    }
    FakeProcTree(const FakeProcTree&) = delete;
    FakeProcTree& operator=(const FakeProcTree&) = delete;

    const std::string& root() const { return root_; }

    void AddFd(int pid, int fd, const std::string& target) {
        const auto dir = std::filesystem::path(root_) / std::to_string(pid) / "fd";
        std::filesystem::create_directories(dir);
        std::filesystem::create_symlink(target, dir / std::to_string(fd));
    }
    void AddSocket(int pid, int fd, uint64_t inode) {
        AddFd(pid, fd, "socket:[" + std::to_string(inode) + "]");
    }
    void RemoveFd(int pid, int fd) {
        std::filesystem::remove(std::filesystem::path(root_) / std::to_string(pid) / "fd" /
                                std::to_string(fd));
    }
    void RemoveProcess(int pid) {
        std::filesystem::remove_all(std::filesystem::path(root_) / std::to_string(pid));
    }

    void SetExe(int pid, const std::string& target) {
        const auto dir = std::filesystem::path(root_) / std::to_string(pid);
        std::filesystem::create_directories(dir);
        std::filesystem::create_symlink(target, dir / "exe");
    }
    void SetComm(int pid, const std::string& text) { Write(std::to_string(pid) + "/comm", text); }
    void AddDirectory(const std::string& relative) {
        std::filesystem::create_directories(std::filesystem::path(root_) / relative);
    }
    void Write(const std::string& relative, const std::string& text) {
        const auto path = std::filesystem::path(root_) / relative;
        std::filesystem::create_directories(path.parent_path());
        std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
    }

  private:
    std::string root_;
};
