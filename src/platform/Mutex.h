#pragma once

#include <mutex>

#include "platform/ThreadAnnotations.h"

namespace varnel {

// A std::mutex that Clang's thread-safety analysis knows as a capability, so fields can be
// declared GUARDED_BY it. Not recursive. Also BasicLockable (lock/unlock), so it works with
// std::condition_variable_any.
class CAPABILITY("mutex") Mutex {
  public:
    Mutex() = default;
    Mutex(const Mutex&) = delete;
    Mutex& operator=(const Mutex&) = delete;

    void lock() ACQUIRE() { m_.lock(); }
    void unlock() RELEASE() { m_.unlock(); }

  private:
    std::mutex m_;
};

// Holds a Mutex for the lifetime of the scope.
class SCOPED_CAPABILITY MutexLock {
  public:
    explicit MutexLock(Mutex& m) ACQUIRE(m) : m_(m) { m_.lock(); }
    ~MutexLock() RELEASE() { m_.unlock(); }
    MutexLock(const MutexLock&) = delete;
    MutexLock& operator=(const MutexLock&) = delete;

  private:
    Mutex& m_;
};

}  // namespace varnel
