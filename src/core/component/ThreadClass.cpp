#include "core/component/ThreadClass.h"

#include "core/Logging.h"
#include "core/QVException.h"
#include "core/component/ExceptionCarrier.h"
#include "core/component/QVBaseImpl.h"
#include "platform/thread/ThreadName.h"

#include <mutex>
#include <shared_mutex>

#include <condition_variable>
#include <sstream>

namespace tarnix {

// What the running thread touches. Shared between the ThreadClass and the
// thread so that neither outliving the other leaves a dangling reference.
struct ThreadClass::State {
    State(std::weak_ptr<impl::QVBaseImpl> ownerRef, const std::string& threadName,
          exception::ExceptionCarrier& threadCarrier)
        : owner(std::move(ownerRef)), name(threadName), carrier(threadCarrier), statistic(threadName) {}

    std::weak_ptr<impl::QVBaseImpl> owner;
    const std::string name;
    exception::ExceptionCarrier& carrier;
    // Held exclusively by the thread for its whole loop.
    std::shared_mutex threadLock;
    std::atomic<bool> illegal{false};
    std::atomic<bool> stopRequested{false};
    std::atomic<bool> finished{true};
    LoopStatistic statistic;
    // Set as the thread's last step, so that a join can wait for it with a
    // time-out before it commits to joining.
    std::mutex exitMutex;
    std::condition_variable exitSignal;
    bool exited = false;
};

void ThreadClass::create(const std::shared_ptr<impl::QVBaseImpl>& owner) {
    owner->thread_ = std::make_shared<ThreadClass>(owner, owner->name(), owner->carrier());
}

ThreadClass::ThreadClass(std::weak_ptr<impl::QVBaseImpl> owner, const std::string& name,
                         exception::ExceptionCarrier& carrier)
    : state_(std::make_shared<State>(std::move(owner), name, carrier)) {}

ThreadClass::~ThreadClass() {
    state_->stopRequested.store(true);
    try {
        waitAndJoin();
    } catch (const boost::exception&) {
        logCurrentExceptionBanner();
        QVLOG(logging::error) << "Severe error: ~ThreadClass did throw.";
    } catch (...) {
        QVLOG(logging::error) << "Severe error: ~ThreadClass did throw.";
    }
}

void ThreadClass::waitAndJoin() {
    if (isOwnThread()) {
        // The owner's last reference went away on its own worker thread,
        // which still holds the thread lock and cannot join itself. The
        // thread ends on its own right after this.
        thread_->detach();
        return;
    }
    // Waits until a running loop has ended. The lock is not kept during the
    // join: a thread that has not taken it yet must be able to, find its
    // owner gone and end.
    { std::unique_lock<std::shared_mutex> loopEnded(state_->threadLock); }
    if (!thread_ || !thread_->joinable()) return;
    const std::thread::id id = thread_->get_id();
    bool exited;
    {
        std::unique_lock<std::mutex> lock(state_->exitMutex);
        exited = state_->exitSignal.wait_for(lock, joinTimeout_, [this] { return state_->exited; });
    }
    if (exited) {
        thread_->join();
    } else {
        std::ostringstream idText;
        idText << id;
        QVLOG(logging::error) << "Severe error: Could not join thread " << state_->name << " with id "
                              << idText.str() << ". Timeout.";
        // The thread keeps its own share of the state; it may end later.
        thread_->detach();
    }
}

bool ThreadClass::isOwnThread() const {
    return thread_ && thread_->get_id() == std::this_thread::get_id();
}

void ThreadClass::start() {
    // Tested before the lock: a running loop holds the lock for good, so a
    // second start must not wait for it.
    if (startCalled_.exchange(true)) return;
    std::unique_lock<std::shared_mutex> lock(state_->threadLock);
    if (state_->stopRequested.load()) return;
    state_->finished.store(false);
    // The new thread's first step waits for this lock, so it starts its loop
    // only after start() has returned.
    std::shared_ptr<State> state = state_;
    try {
        thread_.reset(new std::thread([state] { threadMain(state); }));
    } catch (...) {
        // No thread (the system has none to give, or no memory): the
        // component ends as if it had run, so that its owner can reap it.
        state_->stopRequested.store(true);
        state_->finished.store(true);
        throw;
    }
}

void ThreadClass::requestStop() { state_->stopRequested.store(true); }

bool ThreadClass::isIllegal() const { return state_->illegal.load(); }
bool ThreadClass::isStopRequested() const { return state_->stopRequested.load(); }
bool ThreadClass::isFinished() const { return state_->finished.load(); }
const std::string& ThreadClass::name() const { return state_->name; }
LoopStatistic& ThreadClass::loopStatistic() { return state_->statistic; }

void ThreadClass::setThreadName(const std::string& name) { platform::setCurrentThreadName(name); }

void ThreadClass::threadMain(const std::shared_ptr<State>& state) {
    boost::exception_ptr failure;
    try {
        std::unique_lock<std::shared_mutex> lock(state->threadLock);
        setThreadName(state->name);
        // Declared after the lock so that it is released before the lock.
        std::shared_ptr<impl::QVBaseImpl> owner = state->owner.lock();
        if (owner) {
            try {
                owner->pre();
                while (!state->stopRequested.load()) {
                    if (state->statistic.isEnabled()) state->statistic.update();
                    owner->run();
                    owner->reapChildren();
                }
            } catch (...) {
                failure = boost::current_exception();
            }
            owner->post();
        }
    } catch (...) {
        if (!failure) failure = boost::current_exception();
    }
    // Handed over without the thread lock: a full carrier makes it wait, and
    // a join must still be able to give up on this thread.
    if (failure) {
        state->illegal.store(true);
        try {
            state->carrier.store(failure);
        } catch (...) {
            // Nothing sensible is left to do with an exception that cannot
            // even be handed over; the thread still ends in order.
        }
    }
    state->stopRequested.store(true);
    state->finished.store(true);
    {
        std::lock_guard<std::mutex> lock(state->exitMutex);
        state->exited = true;
    }
    state->exitSignal.notify_all();
}

}  // namespace tarnix
