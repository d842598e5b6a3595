#pragma once
#include <chrono>
#include <thread>

namespace tarnix {
namespace platform {

// A short look for work without sleeping, for a thread whose next piece of
// work (a client's next request, another thread's answer) is expected within
// microseconds: it saves the wake-up, which costs far more than the look
// when the waking thread must bring an idle CPU back. Each round leaves the
// CPU to any other thread that wants it; a round that found the CPU wanted
// (the yield gave it away for a while) ends the look, and none is started for
// a while after, so that a busy machine gets no spinning at all.
class BoundedSpin {
public:
    using Clock = std::chrono::steady_clock;
    // A yield that took longer than this gave the CPU to another thread.
    static constexpr std::chrono::microseconds kGivenAway{20};
    // No look for this long after one found the CPU wanted.
    static constexpr std::chrono::milliseconds kBackOff{50};

    // Starts a look of at most `limit`; false (no look) for a zero limit or
    // while looks are off.
    bool start(std::chrono::microseconds limit) {
        const Clock::time_point now = Clock::now();
        if (limit.count() <= 0 || now < offUntil_) return false;
        end_ = now + limit;
        return true;
    }

    // Whether a look would start now (looks are not off).
    bool on() const { return Clock::now() >= offUntil_; }

    // Between two looks: yields the CPU; false once the time is up or the
    // CPU was wanted elsewhere.
    bool next() {
        const Clock::time_point before = Clock::now();
        std::this_thread::yield();
        const Clock::time_point after = Clock::now();
        if (after - before > kGivenAway) {
            offUntil_ = after + kBackOff;
            return false;
        }
        return after < end_;
    }

private:
    Clock::time_point end_;
    Clock::time_point offUntil_;
};

}  // namespace platform
}  // namespace tarnix
