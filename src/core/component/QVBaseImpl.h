#pragma once
#include "core/component/ExceptionCarrier.h"
#include "core/component/ThreadClass.h"

#include <shared_mutex>

#include <atomic>
#include <memory>
#include <string>
#include <vector>
#include "platform/thread/Mutex.h"

namespace tarnix {

class QVBase;

namespace impl {

// Implementation base of every active component. A concrete implementation
// passes its name and carrier to this constructor and overrides pre() (called
// once on the worker thread), run() (called over and over until stopped) and
// perhaps post() (called once after the last pass).
// The first thing pre() usually does is setPriority().
//
// An exception that leaves pre() or run() ends the thread, marks the component
// illegal and goes to the carrier; the parent then stops and drops it.
class QVBaseImpl {
public:
    // The priority a component asks for its thread.
    enum QVPriority { Lowest = -1, Normal = 0, TimeCritical = 1 };

    QVBaseImpl(const std::string& name, exception::ExceptionCarrier& carrier);
    virtual ~QVBaseImpl();
    QVBaseImpl(const QVBaseImpl&) = delete;
    QVBaseImpl& operator=(const QVBaseImpl&) = delete;

    // Own thread first, then every child.
    virtual void start();
    // Every child first, then the own thread. Does not wait. A child added
    // from then on is stopped as it is added (and not started).
    virtual void stop();
    virtual bool isIllegal() const;
    // Own thread ended and, recursively, every child finished.
    virtual bool isFinished() const;
    // False once a stop was requested.
    virtual bool isRunning() const;
    virtual void pre() = 0;
    virtual void run() = 0;
    // Called once on the worker thread after its last pass (also after an
    // exception ended it): gives back what only the running loop needed,
    // before anybody reaps the component.
    virtual void post() {}
    // Seven "status" records describing the component.
    virtual void logClassData() const;

    // Own class log, then the class log of every child (depth first).
    void logClassDataTree() const;

    // Appends the child and starts it, both under the exclusive children lock.
    void addChild(const std::shared_ptr<QVBase>& child);
    // Appends children without starting them (under the exclusive lock).
    void appendChildren(const std::vector<std::shared_ptr<QVBase>>& children);
    std::size_t childCount() const;
    // A copy of the child list, in order.
    std::vector<std::shared_ptr<QVBase>> children() const;

    // Lets go of every child (for an owner whose children refer to state it
    // destroys: called in its destructor).
    void releaseChildren();

    // Switches the loop statistic of this thread and of every child.
    void setLoopStatistic(bool enabled);

    // Stops illegal children and removes the finished ones; called by the
    // component's own thread after every pass.
    void reapChildren();
    // Removes only the children whose threads ended by an exception. Safe on
    // any thread at any time: a child not started yet also counts as
    // finished, but never as failed.
    void reapFailedChildren();

    // Sets the calling thread's priority (-1 lowest, 0 normal, 1 time
    // critical; other values do nothing). A refusal is logged at "debug".
    void setPriority(int priority);

    const std::string& name() const { return name_; }
    exception::ExceptionCarrier& carrier() const { return carrier_; }
    // The worker thread object; empty until the facade has been built.
    const std::shared_ptr<ThreadClass>& thread() const { return thread_; }

private:
    friend class tarnix::ThreadClass;

    void reap(bool failedOnly);

    // Declaration order is destruction order reversed: the children lock and
    // the children go first, the thread object last.
    std::shared_ptr<ThreadClass> thread_;
    std::string name_;
    exception::ExceptionCarrier& carrier_;
    std::vector<std::shared_ptr<QVBase>> children_ QV_GUARDED_BY(childrenLock_);
    // Mirrors children_.size() so that a pass without children needs no lock.
    std::atomic<std::size_t> childCount_{0};
    // Set by stop(); read under the exclusive children lock when adding.
    std::atomic<bool> stopping_{false};
    mutable SharedMutex childrenLock_;
};

}  // namespace impl
}  // namespace tarnix
