#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/ReverseLookup.h"

namespace varnel {

// A reverse lookup the test controls. Answers come from maps keyed by network-order address (an
// address missing from a map fails); with `nameEveryAddress` NameInfo instead answers every
// address with "h<a>-<b>-<c>-<d>.test". While blocked (Block), every call waits inside the lookup
// until Release, so a test can hold workers in flight. Counters and the addresses asked are kept.
// With SetAsynchronous (before the pool that uses it is made) it is an asynchronous lookup whose
// Begin* keep each request (IPv4 ones counted with NameInfo's calls) until the test answers it
// with Answer.
//
// Threads: any, concurrently; the test may change answers while workers call.
class FakeReverseLookup : public ReverseLookup {
  public:
    static uint32_t Addr(uint8_t a, uint8_t b, uint8_t c, uint8_t d) {
        const uint8_t bytes[4] = {a, b, c, d};
        uint32_t v;
        std::memcpy(&v, bytes, sizeof v);
        return v;
    }
    static std::string GeneratedName(uint32_t addr) {
        uint8_t b[4];
        std::memcpy(b, &addr, sizeof b);
        return "h" + std::to_string(b[0]) + "-" + std::to_string(b[1]) + "-" + std::to_string(b[2]) + "-" +
               std::to_string(b[3]) + ".test";
    }

    void SetNameInfo(uint32_t addr, std::string name) {
        std::lock_guard lock(mutex_);
        nameInfo_[addr] = std::move(name);
    }
    void SetHostByAddr(uint32_t addr, std::string name) {
        std::lock_guard lock(mutex_);
        hostByAddr_[addr] = std::move(name);
    }
    void SetNameInfo6(const Ip6Address& addr, std::string name) {
        std::lock_guard lock(mutex_);
        nameInfo6_[Key6(addr)] = std::move(name);
    }
    void SetNameEveryAddress(bool on) {
        std::lock_guard lock(mutex_);
        nameEveryAddress_ = on;
    }

    void SetAsynchronous(bool on) {
        std::lock_guard lock(mutex_);
        asynchronous_ = on;
    }
    bool Asynchronous() const override {
        std::lock_guard lock(mutex_);
        return asynchronous_;
    }
    bool BeginNameInfo(uint32_t addr, Done done) override {
        std::lock_guard lock(mutex_);
        nameInfoAsked_.push_back(addr);
        begun_.push_back(std::move(done));
        return true;
    }
    bool BeginNameInfo6(const Ip6Address&, Done done) override {
        std::lock_guard lock(mutex_);
        ++nameInfo6Calls_;
        begun_.push_back(std::move(done));
        return true;
    }
    size_t begun() const {
        std::lock_guard lock(mutex_);
        return begun_.size();
    }
    // Answers the i-th asynchronous request (in the order begun), on the calling thread.
    void Answer(size_t i, bool found, const std::string& name) {
        Done done;
        {
            std::lock_guard lock(mutex_);
            done = std::move(begun_.at(i));
        }
        if (done) done(found, name);
    }

    // From now on calls wait inside the lookup until Release.
    void Block() {
        std::lock_guard lock(mutex_);
        blocked_ = true;
    }
    // Lets every waiting and later call through.
    void Release() {
        {
            std::lock_guard lock(mutex_);
            blocked_ = false;
        }
        changed_.notify_all();
    }
    // Waits until `count` calls are waiting inside the lookup; false on time-out.
    bool WaitForWaiting(size_t count, std::chrono::milliseconds timeout) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, timeout, [&] { return waiting_ >= count; });
    }

    size_t waiting() const {
        std::lock_guard lock(mutex_);
        return waiting_;
    }
    size_t nameInfoCalls() const {
        std::lock_guard lock(mutex_);
        return nameInfoAsked_.size();
    }
    size_t hostByAddrCalls() const {
        std::lock_guard lock(mutex_);
        return hostByAddrAsked_.size();
    }
    // Calls that have returned (all kinds).
    size_t finishedCalls() const {
        std::lock_guard lock(mutex_);
        return finished_;
    }
    std::vector<uint32_t> nameInfoAsked() const {
        std::lock_guard lock(mutex_);
        return nameInfoAsked_;
    }
    std::vector<uint32_t> hostByAddrAsked() const {
        std::lock_guard lock(mutex_);
        return hostByAddrAsked_;
    }

    bool NameInfo(uint32_t addr, std::string& name) override {
        std::unique_lock lock(mutex_);
        nameInfoAsked_.push_back(addr);
        WaitWhileBlocked(lock);
        ++finished_;
        if (nameEveryAddress_) {
            name = GeneratedName(addr);
            return true;
        }
        return Answer(nameInfo_, addr, name);
    }
    bool HostByAddr(uint32_t addr, std::string& name) override {
        std::unique_lock lock(mutex_);
        hostByAddrAsked_.push_back(addr);
        WaitWhileBlocked(lock);
        ++finished_;
        return Answer(hostByAddr_, addr, name);
    }

    // IPv6 lookups are counted with NameInfo's calls; `nameEveryAddress` does not name them.
    bool NameInfo6(const Ip6Address& addr, std::string& name) override {
        std::unique_lock lock(mutex_);
        ++nameInfo6Calls_;
        WaitWhileBlocked(lock);
        ++finished_;
        auto it = nameInfo6_.find(Key6(addr));
        if (it == nameInfo6_.end()) return false;
        name = it->second;
        return true;
    }
    size_t nameInfo6Calls() const {
        std::lock_guard lock(mutex_);
        return nameInfo6Calls_;
    }

  private:
    static std::string Key6(const Ip6Address& addr) {
        return std::string(reinterpret_cast<const char*>(addr.bytes), sizeof addr.bytes);
    }
    void WaitWhileBlocked(std::unique_lock<std::mutex>& lock) {
        if (!blocked_) return;
        ++waiting_;
        changed_.notify_all();
        changed_.wait(lock, [&] { return !blocked_; });
        --waiting_;
    }
    static bool Answer(const std::map<uint32_t, std::string>& answers, uint32_t addr, std::string& name) {
        auto it = answers.find(addr);
        if (it == answers.end()) return false;
        name = it->second;
        return true;
    }

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::map<uint32_t, std::string> nameInfo_;
    std::map<uint32_t, std::string> hostByAddr_;
    std::map<std::string, std::string> nameInfo6_;
    size_t nameInfo6Calls_ = 0;
    bool nameEveryAddress_ = false;
    bool blocked_ = false;
    bool asynchronous_ = false;
    std::vector<Done> begun_;
    size_t waiting_ = 0;
    size_t finished_ = 0;
    std::vector<uint32_t> nameInfoAsked_;
    std::vector<uint32_t> hostByAddrAsked_;
};

}  // namespace varnel
