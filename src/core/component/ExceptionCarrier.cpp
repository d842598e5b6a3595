#include "core/component/ExceptionCarrier.h"

namespace tarnix {
namespace exception {

void ExceptionCarrier::store(const boost::exception_ptr& captured) {
    if (closed_.load()) return;
    UniqueLock<Mutex> lock(mutex_);
    while (full_.load() && !closed_.load()) slotFreed_.wait(lock.native());
    if (closed_.load()) return;
    stored_ = captured;
    full_.store(true);
}

bool ExceptionCarrier::take(boost::exception_ptr& out) {
    // Cheap unlocked test: the pollers call this once per second.
    if (!full_.load()) return false;
    bool handedOver = false;
    {
        LockGuard<Mutex> lock(mutex_);
        if (full_.load()) {
            out = stored_;
            stored_ = boost::exception_ptr();
            full_.store(false);
            handedOver = true;
        }
    }
    if (handedOver) slotFreed_.notify_all();
    return handedOver;
}

void ExceptionCarrier::close() {
    {
        // Under the mutex so that a thread between its test and its wait
        // cannot miss the wake-up.
        LockGuard<Mutex> lock(mutex_);
        closed_.store(true);
    }
    slotFreed_.notify_all();
}

}  // namespace exception
}  // namespace tarnix
