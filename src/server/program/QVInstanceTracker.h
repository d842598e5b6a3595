#pragma once
#include "platform/process/InstanceLock.h"

#include <memory>

namespace tarnix {

// The single-instance guard of qvServer: a system-wide marker named
// "Global\qvServerExclusive" that exists while a server runs.
class QVInstanceTracker {
public:
    static constexpr const char* kName = "Global\\qvServerExclusive";

    // Creates or opens the marker; throws QVException "Unable to create
    // mutex." when the system cannot make it.
    QVInstanceTracker();
    ~QVInstanceTracker();
    QVInstanceTracker(const QVInstanceTracker&) = delete;
    QVInstanceTracker& operator=(const QVInstanceTracker&) = delete;

    // True when no other server held the marker.
    bool isOnlyInstance() const { return onlyInstance_; }
    // Gives the marker up; throws QVException "Unable to destroy mutex." when
    // the system reports a failure. The destructor does the same silently.
    void release();

private:
    std::unique_ptr<platform::InstanceLock> lock_;
    bool onlyInstance_ = false;
};

}  // namespace tarnix
