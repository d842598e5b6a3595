#pragma once
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <utility>
#include "platform/thread/Mutex.h"

namespace tarnix {

// Lets a worker thread that has run out of work wait for new work with its
// idle time as the upper bound, instead of sleeping that time: a producer's
// notify ends the wait at once. A notify while nobody waits is kept for the
// next wait.
class WakeSignal {
public:
    WakeSignal() = default;
    // `alsoWake` runs on every notify, for an owner that waits on something
    // else than this signal (a device thread waiting for its instrument).
    explicit WakeSignal(std::function<void()> alsoWake) : alsoWake_(std::move(alsoWake)) {}

    void notify() { post(false); }

    // New stream data: ends a waitFor, but not a waitForOthers, which a
    // waiter uses to let its stream buffers fill.
    void notifyStreamData() { post(true); }

    // True when woken by a notify of either kind, false when the time ran out.
    template <class Rep, class Period>
    bool waitFor(std::chrono::duration<Rep, Period> timeout) {
        return wait(timeout, true);
    }

    // Like waitFor, but new stream data does not end the wait.
    template <class Rep, class Period>
    bool waitForOthers(std::chrono::duration<Rep, Period> timeout) {
        return wait(timeout, false);
    }

private:
    void post(bool streamData) {
        bool wake = true;
        {
            LockGuard<Mutex> lock(mutex_);
            if (streamData) {
                streamData_ = true;
                wake = !waitingForOthers_;
            } else {
                pending_ = true;
            }
        }
        if (wake) condition_.notify_one();
        if (alsoWake_) alsoWake_();
    }

    template <class Rep, class Period>
    bool wait(std::chrono::duration<Rep, Period> timeout, bool streamDataEnds) {
        UniqueLock<Mutex> lock(mutex_);
        waitingForOthers_ = !streamDataEnds;
        const bool woken = condition_.wait_for(lock.native(), timeout, [&]() QV_REQUIRES(mutex_) {
            return pending_ || (streamDataEnds && streamData_);
        });
        waitingForOthers_ = false;
        pending_ = false;
        if (streamDataEnds) streamData_ = false;
        return woken;
    }

    const std::function<void()> alsoWake_;
    Mutex mutex_;
    std::condition_variable condition_;
    bool pending_ QV_GUARDED_BY(mutex_) = false;
    bool streamData_ QV_GUARDED_BY(mutex_) = false;
    bool waitingForOthers_ QV_GUARDED_BY(mutex_) = false;
};

}  // namespace tarnix
