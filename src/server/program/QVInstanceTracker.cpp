#include "server/program/QVInstanceTracker.h"

#include "core/QVException.h"

namespace tarnix {

QVInstanceTracker::QVInstanceTracker()
    : lock_(new platform::InstanceLock(platform::InstanceLock::effectiveName(kName))) {
    if (lock_->failed()) QV_THROW(QVException("Unable to create mutex."));
    onlyInstance_ = lock_->created();
}

QVInstanceTracker::~QVInstanceTracker() { lock_->close(); }

void QVInstanceTracker::release() {
    if (!lock_->close()) QV_THROW(QVException("Unable to destroy mutex."));
}

}  // namespace tarnix
