#pragma once
#include "core/tree/WakeSignal.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include "platform/thread/ThreadSafety.h"

namespace tarnix {

// The door of one tree's request FIFO, shared by the sessions that post
// requests and the tree's owner (a device thread or the server-node thread)
// that takes them.
//
// - No request is lost: a session finds the FIFO full, waits for room and
//   posts again (see TreePost), instead of its request being dropped.
// - Fairness: each session may have only a bounded number of requests waiting
//   in the FIFO, so a client that floods the server waits for its own answers
//   while other clients' requests still get in.
// - The owner sleeps on the gate when it has nothing to do; a posted request
//   wakes it.
// - When the owner ends, it closes the gate: waiting and later posts give up.
class RequestGate {
public:
    static constexpr uint32_t kDefaultSessionLimit = 32;

    // `alsoWake` runs on every posted request, for an owner that waits on
    // something else than this gate (a device thread waiting for its
    // instrument).
    explicit RequestGate(std::function<void()> alsoWake = {}, uint32_t sessionLimit = kDefaultSessionLimit);
    RequestGate(const RequestGate&) = delete;
    RequestGate& operator=(const RequestGate&) = delete;

    enum class PostResult { Posted, Full, SessionLimit, Closed };

    // Poster side. When the session may place one more request, runs `write`
    // (which returns false when the FIFO has no room) under the gate's lock,
    // so that closing the gate and a post cannot cross: a record is either in
    // the FIFO before the owner drains it at its end, or refused.
    PostResult post(uint16_t session, const std::function<bool()>& write);

    // Owner side: a request of this session has left the FIFO.
    void taken(uint16_t session);
    // Owner's idle wait: true when woken by a post, false after the timeout.
    template <class Rep, class Period>
    bool waitForRequests(std::chrono::duration<Rep, Period> timeout) {
        return ownerWake_.waitFor(timeout);
    }
    // Wakes the owner as a post would.
    void wakeOwner() { ownerWake_.notify(); }
    // The owner has ended: posts are refused from now on and waiters return.
    void close();
    bool closed() const;

    // Poster side: waits until a request leaves the FIFO (or the gate
    // closes), at most `timeout`. `forSession` waits for the session's own
    // share; otherwise for room in the FIFO.
    void waitForRoom(uint16_t session, bool forSession, std::chrono::milliseconds timeout);

    // Requests of the session now waiting in the FIFO.
    uint32_t waitingOf(uint16_t session) const;
    uint32_t sessionLimit() const { return limit_; }

private:
    WakeSignal ownerWake_;
    const uint32_t limit_;
    mutable std::mutex mutex_;
    // Requests waiting per session id; indexed by the 16-bit session tag.
    std::unique_ptr<uint16_t[]> waiting_ QV_PT_GUARDED_BY(mutex_);
    bool closed_ QV_GUARDED_BY(mutex_) = false;
    // Counts every request taken, so that a waiter can tell a wake-up that
    // concerns it from a spurious one.
    uint64_t takenCount_ QV_GUARDED_BY(mutex_) = 0;
    uint32_t roomWaiters_ QV_GUARDED_BY(mutex_) = 0;
    uint32_t sessionWaiters_ QV_GUARDED_BY(mutex_) = 0;
    // One waiter per freed slot wakes for FIFO room; a session waiting for
    // its own share wakes on any request taken (only floods wait there).
    std::condition_variable roomFreed_;
    std::condition_variable sessionFreed_;
};

}  // namespace tarnix
