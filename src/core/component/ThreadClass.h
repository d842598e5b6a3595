#pragma once
#include "core/component/LoopStatistic.h"

#include <shared_mutex>
#include <thread>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>

namespace tarnix {

namespace exception {
class ExceptionCarrier;
}
namespace impl {
class QVBaseImpl;
}

// The worker thread of one component: names itself, calls the owner's pre()
// once, run() until stopped and post() once, removes the owner's finished
// children after every pass and hands an escaping exception to the
// component's carrier.
//
// The thread only holds a weak reference to its owner between passes of its
// life: a strong one exists while the loop runs. Everything the running
// thread touches lives in a shared state, so the thread may outlive this
// object (after a join time-out, or when the owner's last reference is
// dropped on the worker thread itself).
class ThreadClass {
public:
    static constexpr std::chrono::milliseconds kJoinTimeout{10000};

    // Makes the thread object for the implementation (name and carrier taken
    // from it) and installs it as the implementation's thread. The
    // implementation must already be held by a shared reference.
    static void create(const std::shared_ptr<impl::QVBaseImpl>& owner);

    ThreadClass(std::weak_ptr<impl::QVBaseImpl> owner, const std::string& name,
                exception::ExceptionCarrier& carrier);
    // Requests the stop, waits for the loop to end and joins the thread for at
    // most kJoinTimeout. On the worker thread itself it neither waits nor joins.
    ~ThreadClass();
    ThreadClass(const ThreadClass&) = delete;
    ThreadClass& operator=(const ThreadClass&) = delete;

    // Starts the thread unless a stop was requested before or it was started
    // already. Returns once the thread exists; its loop begins after that.
    void start();
    // The loop ends after the current pass. Does not wait.
    void requestStop();

    bool isIllegal() const;
    bool isStopRequested() const;
    bool isFinished() const;
    const std::string& name() const;

    LoopStatistic& loopStatistic();

    // Names the calling thread (cut to what the system keeps).
    static void setThreadName(const std::string& name);

    // Only for tests: a shorter join time-out than kJoinTimeout.
    void setJoinTimeoutForTest(std::chrono::milliseconds timeout) { joinTimeout_ = timeout; }

private:
    struct State;
    static void threadMain(const std::shared_ptr<State>& state);
    bool isOwnThread() const;
    void waitAndJoin();

    std::shared_ptr<State> state_;
    std::unique_ptr<std::thread> thread_;
    std::atomic<bool> startCalled_{false};
    std::chrono::milliseconds joinTimeout_ = kJoinTimeout;
};

}  // namespace tarnix
