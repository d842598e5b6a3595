#pragma once
#include <boost/exception_ptr.hpp>
#include <condition_variable>
#include <mutex>

#include <atomic>
#include "platform/thread/Mutex.h"

namespace tarnix {
namespace exception {

// One-slot hand-over of a captured exception from a failing worker thread to
// the thread that polls it (the server thread or the main thread).
//
// A failing thread waits in store() while the slot is full, so no exception is
// lost. Once the carrier is closed, exceptions are dropped instead, and
// threads already waiting give up, so that shutting down never blocks on a
// carrier nobody empties any more.
class ExceptionCarrier {
public:
    ExceptionCarrier() = default;
    ExceptionCarrier(const ExceptionCarrier&) = delete;
    ExceptionCarrier& operator=(const ExceptionCarrier&) = delete;

    // Waits without time-out while the slot is full; drops the exception when
    // the carrier is (or becomes) closed.
    void store(const boost::exception_ptr& captured);

    // Hands the stored exception over and frees the slot. Never waits for an
    // exception to arrive; returns false when none was there.
    bool take(boost::exception_ptr& out);

    // From now on exceptions are dropped; wakes every thread waiting in store().
    void close();
    bool isClosed() const { return closed_.load(); }
    bool isFull() const { return full_.load(); }

private:
    Mutex mutex_;
    std::condition_variable slotFreed_;
    std::atomic<bool> full_{false};
    std::atomic<bool> closed_{false};
    boost::exception_ptr stored_ QV_GUARDED_BY(mutex_);
};

}  // namespace exception
}  // namespace tarnix
