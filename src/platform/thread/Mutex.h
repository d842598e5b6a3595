#pragma once
// Mutexes and scoped locks that clang's -Wthread-safety analysis can see:
// thin wrappers over the standard library's, which libstdc++ does not
// annotate. They behave exactly like the standard types they wrap; data a
// lock guards says so with QV_GUARDED_BY (ThreadSafety.h).
//
// UniqueLock::native() hands the wrapped std::unique_lock to a
// std::condition_variable; a wait releases and retakes the lock inside the
// call, so for the analysis the lock is held throughout. A wait predicate is
// a lambda, which the analysis checks as a function of its own: write it
// with QV_REQUIRES or wait in a loop.

#include "platform/thread/ThreadSafety.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <shared_mutex>

namespace tarnix {

// A standard mutex type `N` with the analysis's annotations. Members that `N`
// lacks (the shared and timed ones of std::mutex) are never instantiated.
template <class N>
class QV_CAPABILITY("mutex") AnnotatedMutex {
public:
    typedef N Native;
    void lock() QV_ACQUIRE() { native_.lock(); }
    void unlock() QV_RELEASE() { native_.unlock(); }
    bool try_lock() QV_TRY_ACQUIRE(true) { return native_.try_lock(); }
    template <class Clock, class Duration>
    bool try_lock_until(const std::chrono::time_point<Clock, Duration>& deadline) QV_TRY_ACQUIRE(true) {
        return native_.try_lock_until(deadline);
    }
    void lock_shared() QV_ACQUIRE_SHARED() { native_.lock_shared(); }
    void unlock_shared() QV_RELEASE_SHARED() { native_.unlock_shared(); }
    bool try_lock_shared() QV_TRY_ACQUIRE_SHARED(true) { return native_.try_lock_shared(); }
    Native& native() { return native_; }

private:
    Native native_;
};

using Mutex = AnnotatedMutex<std::mutex>;
using SharedMutex = AnnotatedMutex<std::shared_mutex>;
// A shared mutex whose takers may give up after a time.
using SharedTimedMutex = AnnotatedMutex<std::shared_timed_mutex>;

// Holds the mutex exclusively for its whole scope.
template <class M>
class QV_SCOPED_CAPABILITY LockGuard {
public:
    explicit LockGuard(M& mutex) QV_ACQUIRE(mutex) : lock_(mutex.native()) {}
    ~LockGuard() QV_RELEASE() {}
    LockGuard(const LockGuard&) = delete;
    LockGuard& operator=(const LockGuard&) = delete;

private:
    std::lock_guard<typename M::Native> lock_;
};

// Holds the mutex shared for its whole scope.
template <class M>
class QV_SCOPED_CAPABILITY SharedLock {
public:
    explicit SharedLock(M& mutex) QV_ACQUIRE_SHARED(mutex) : lock_(mutex.native()) {}
    ~SharedLock() QV_RELEASE() {}
    SharedLock(const SharedLock&) = delete;
    SharedLock& operator=(const SharedLock&) = delete;

private:
    std::shared_lock<typename M::Native> lock_;
};

// An exclusive lock that may be released and taken again within its scope,
// taken later (std::defer_lock), or handed to a condition variable.
template <class M>
class QV_SCOPED_CAPABILITY UniqueLock {
public:
    explicit UniqueLock(M& mutex) QV_ACQUIRE(mutex) : lock_(mutex.native()) {}
    UniqueLock(M& mutex, std::defer_lock_t) QV_EXCLUDES(mutex) : lock_(mutex.native(), std::defer_lock) {}
    ~UniqueLock() QV_RELEASE() {}
    UniqueLock(const UniqueLock&) = delete;
    UniqueLock& operator=(const UniqueLock&) = delete;

    void lock() QV_ACQUIRE() { lock_.lock(); }
    void unlock() QV_RELEASE() { lock_.unlock(); }
    bool try_lock() QV_TRY_ACQUIRE(true) { return lock_.try_lock(); }
    template <class Clock, class Duration>
    bool try_lock_until(const std::chrono::time_point<Clock, Duration>& deadline) QV_TRY_ACQUIRE(true) {
        return lock_.try_lock_until(deadline);
    }
    bool owns_lock() const { return lock_.owns_lock(); }
    // For std::condition_variable (with a Mutex).
    std::unique_lock<typename M::Native>& native() { return lock_; }

private:
    std::unique_lock<typename M::Native> lock_;
};

// The analysis tells locks apart by the expression that names them, so one
// mutex reached by two paths (a registry's member, and a tree's reference to
// it) looks like two. With `held` held, this checks that `same` is the same
// mutex (a different one is a programming error: it aborts) and lets the
// analysis take `same` as held too.
template <class M>
void assertSameMutex(const M& held, const M& same) QV_REQUIRES(held) QV_ASSERT_CAPABILITY(same) {
    if (&held == &same) return;
    std::fputs("assertSameMutex: a lock is held through another mutex than expected\n", stderr);
    std::abort();
}

}  // namespace tarnix
