#include "core/component/QVBaseImpl.h"

#include "core/Logging.h"
#include "core/component/QVBase.h"
#include "platform/thread/ThreadPriority.h"


#include <algorithm>

namespace tarnix {
namespace impl {

QVBaseImpl::QVBaseImpl(const std::string& name, exception::ExceptionCarrier& carrier)
    : name_(name), carrier_(carrier) {}

QVBaseImpl::~QVBaseImpl() = default;

void QVBaseImpl::start() {
    if (thread_) thread_->start();
    SharedLock<SharedMutex> lock(childrenLock_);
    for (const auto& child : children_) child->start();
}

void QVBaseImpl::stop() {
    // Set before the children are walked: a child added once the walk has
    // passed finds it set and is stopped by the one who adds it, so that a
    // stopped component never waits for a child nobody stopped.
    stopping_.store(true);
    {
        SharedLock<SharedMutex> lock(childrenLock_);
        for (const auto& child : children_) child->stop();
    }
    if (thread_) thread_->requestStop();
}

bool QVBaseImpl::isIllegal() const { return thread_ && thread_->isIllegal(); }

bool QVBaseImpl::isFinished() const {
    if (thread_ && !thread_->isFinished()) return false;
    SharedLock<SharedMutex> lock(childrenLock_);
    return std::all_of(children_.begin(), children_.end(),
                       [](const std::shared_ptr<QVBase>& child) { return child->isFinished(); });
}

bool QVBaseImpl::isRunning() const {
    if (!thread_) {
        QVLOG(logging::error) << "Warning: Tried to access an uninitialized thread.";
        return false;
    }
    return !thread_->isStopRequested();
}

void QVBaseImpl::logClassData() const {
    QVLOG(logging::status) << "-- Class Log Data Start -----------------------------";
    QVLOG(logging::status) << "Class name:    " << name_;
    QVLOG(logging::status) << "Children:      " << childCount();
    QVLOG(logging::status) << "Flags: Illegal: " << int(isIllegal());
    QVLOG(logging::status) << "       Stopped: " << int(isFinished());
    QVLOG(logging::status) << "       Running: " << int(isRunning());
    QVLOG(logging::status) << "-- Class Log Data End   -----------------------------";
}

void QVBaseImpl::logClassDataTree() const {
    logClassData();
    SharedLock<SharedMutex> lock(childrenLock_);
    for (const auto& child : children_) child->logClassData();
}

void QVBaseImpl::addChild(const std::shared_ptr<QVBase>& child) {
    UniqueLock<SharedMutex> lock(childrenLock_);
    children_.push_back(child);
    childCount_.store(children_.size());
    if (stopping_.load()) {
        child->stop();
    } else {
        child->start();
    }
}

void QVBaseImpl::appendChildren(const std::vector<std::shared_ptr<QVBase>>& children) {
    UniqueLock<SharedMutex> lock(childrenLock_);
    children_.insert(children_.end(), children.begin(), children.end());
    childCount_.store(children_.size());
    if (stopping_.load()) {
        for (const auto& child : children) child->stop();
    }
}

void QVBaseImpl::releaseChildren() {
    std::vector<std::shared_ptr<QVBase>> released;
    {
        UniqueLock<SharedMutex> lock(childrenLock_);
        released.swap(children_);
        childCount_.store(0);
    }
    // Destroyed outside the lock: a child's destructor stops its thread.
    released.clear();
}

std::size_t QVBaseImpl::childCount() const {
    SharedLock<SharedMutex> lock(childrenLock_);
    return children_.size();
}

std::vector<std::shared_ptr<QVBase>> QVBaseImpl::children() const {
    SharedLock<SharedMutex> lock(childrenLock_);
    return children_;
}

void QVBaseImpl::setLoopStatistic(bool enabled) {
    if (thread_) thread_->loopStatistic().setEnabled(enabled);
    SharedLock<SharedMutex> lock(childrenLock_);
    for (const auto& child : children_) child->setLoopStatistic(enabled);
}

void QVBaseImpl::reapChildren() { reap(false); }

void QVBaseImpl::reapFailedChildren() { reap(true); }

void QVBaseImpl::reap(bool failedOnly) {
    if (childCount_.load() == 0) return;
    const auto ended = [failedOnly](const std::shared_ptr<QVBase>& child) {
        return child->isFinished() && (!failedOnly || child->isIllegal());
    };
    std::vector<std::shared_ptr<QVBase>> released;
    {
        // Readers may go on while the children are looked at; the new list is
        // built and installed under the exclusive lock, looking again, since a
        // child may have been added or ended in between (ending is for good).
        {
            SharedLock scan(childrenLock_);
            bool anyEnded = false;
            for (const auto& child : children_) {
                if (child->isIllegal()) child->stop();
            }
            for (const auto& child : children_) {
                if (ended(child)) anyEnded = true;
            }
            if (!anyEnded) return;
        }
        UniqueLock<SharedMutex> install(childrenLock_);
        std::vector<std::shared_ptr<QVBase>> remaining;
        remaining.reserve(children_.size());
        for (const auto& child : children_) {
            if (!ended(child)) remaining.push_back(child);
        }
        released.swap(children_);
        children_.swap(remaining);
        childCount_.store(children_.size());
    }
    // Outside the lock: destroying a finished child joins its ended thread.
}

void QVBaseImpl::setPriority(int priority) {
    if (priority < -1 || priority > 1) return;
    if (!platform::setCurrentThreadPriority(static_cast<platform::ThreadPriority>(priority))) {
        QVLOG(logging::debug) << "Couldn't set priority of thread " << name_ << ".";
    }
}

}  // namespace impl
}  // namespace tarnix
