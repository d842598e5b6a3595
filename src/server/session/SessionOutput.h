#pragma once
#include "core/fifo/QVFifo.h"

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>
#include "platform/thread/Mutex.h"

namespace tarnix {

// The write side of a session: its write FIFO and the overflow policy.
//
// Droppable blocks (classes 4 and 5) are written only when at least 30 % of
// the FIFO stays free afterwards. Important blocks (classes 1 to 3) wait up to
// the limit (10 s) for room, after which the session counts as invalid.
// Only the session's own thread waits: a block from another thread (the
// dispatcher) that does not fit is parked in a backlog that the session
// thread moves into the FIFO as room appears, so one slow client never stalls
// the threads that serve everyone else.
class SessionOutput {
public:
    enum class Result { Written, Dropped, Deferred, Discarded };

    static constexpr double kDroppableFreeRatio = 0.3;

    // socketHandle only names the session in log lines.
    SessionOutput(std::shared_ptr<QVFifo> fifo, int socketHandle);
    SessionOutput(const SessionOutput&) = delete;
    SessionOutput& operator=(const SessionOutput&) = delete;

    Result writeDroppable(const uint8_t* data, uint32_t length);

    // From a thread other than the session's own: never waits.
    Result writeImportantDeferred(const uint8_t* data, uint32_t length);

    // On the session's own thread: waits in 1 ms steps while `running` holds,
    // calling `sendPending` between the tries so that the FIFO drains.
    Result writeImportantWaiting(const uint8_t* data, uint32_t length, const std::function<bool()>& running,
                                 const std::function<void()>& sendPending);

    // Session thread, once per pass: moves parked blocks into the FIFO.
    // Returns false once important data has waited longer than the limit;
    // the session must then stop.
    bool pump();

    QVFifo& fifo() { return *fifo_; }
    const QVFifo& fifo() const { return *fifo_; }
    uint32_t dropCount() const;
    bool hasBacklog() const;
    uint32_t freeBytes() const;

    void setWaitLimit(std::chrono::milliseconds limit) { waitLimit_ = limit; }

private:
    using Clock = std::chrono::steady_clock;

    // All below run with mutex_ held.
    uint32_t freeLocked() const QV_REQUIRES(mutex_);
    bool copyIn(const uint8_t* data, uint32_t length) QV_REQUIRES(mutex_);
    // Moves parked blocks while they fit; true when the backlog is empty.
    bool drainBacklogLocked() QV_REQUIRES(mutex_);
    void logFull(uint32_t freeSize, uint32_t length) const;
    void logFreed(uint32_t freeSize, uint32_t length) const;
    void logGivenUp(uint32_t freeSize, uint32_t length, Clock::duration waited) const;

    std::shared_ptr<QVFifo> fifo_;
    const int socketHandle_;
    std::chrono::milliseconds waitLimit_{10000};

    mutable Mutex mutex_;
    uint32_t dropCounter_ QV_GUARDED_BY(mutex_) = 0;
    std::deque<std::vector<uint8_t>> backlog_ QV_GUARDED_BY(mutex_);
    uint64_t backlogBytes_ QV_GUARDED_BY(mutex_) = 0;
    Clock::time_point backlogSince_ QV_GUARDED_BY(mutex_);
    bool invalid_ QV_GUARDED_BY(mutex_) = false;
};

}  // namespace tarnix
