#pragma once
#include "core/tree/WakeSignal.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>
#include "platform/thread/Mutex.h"

namespace tarnix {

class BufferFifoBase;

// How much of a tree's request path one session may hold (see RequestGate).
struct RequestGateLimits {
    // Requests of one session at the gate, in the queue and waiting for it.
    uint32_t sessionShare = 32;
    // Requests in the queue at once.
    uint32_t queueWindow = 64;
};

// The door of one tree's request queue (its request FIFO), shared by the
// sessions that post requests and the tree's owner (a device thread or the
// server-node thread) that takes them.
//
// - No request is lost: a request that does not get into the queue at once
//   waits at the gate for its turn; a session whose share is used up waits
//   (see TreePost) instead of its request being dropped.
// - Fairness: the queue holds at most `queueWindow` requests. Behind it, each
//   session's requests wait in a line of their own, and the lines move into
//   the queue in turn, one request per session at a time; each session may
//   have at most `sessionShare` requests at the gate (queue and line). So a
//   request finds at most the window and one request of every other session
//   ahead of it, however many one client sends.
// - Few wake-ups: a session waiting for its share is woken alone, once half
//   of its share is free again (by its condition, or by the wake function of
//   a session that sleeps on its own); the owner is woken when the queue gets its
//   first request, or when room for answers it waited for has been made.
// - When the owner ends, it closes the gate: waiting and later posts give up,
//   and what waited at the gate is handed back to be answered as failed.
//
// Only the gate writes into the queue (under its own lock); the owner is the
// queue's only reader and tells the gate of every request it took (taken).
class RequestGate {
public:
    typedef RequestGateLimits Limits;

    // `alsoWake` runs whenever the owner is woken, for an owner that waits on
    // something else than this gate (a device thread waiting for its
    // instrument).
    explicit RequestGate(std::shared_ptr<BufferFifoBase> queue, std::function<void()> alsoWake = {},
                         Limits limits = {});
    RequestGate(const RequestGate&) = delete;
    RequestGate& operator=(const RequestGate&) = delete;
    ~RequestGate();

    enum class PostResult {
        Queued,      // in the queue
        Waiting,     // in the session's line; it moves into the queue in turn
        ShareFull,   // the session has its share at the gate: wait (waitForShare) and post again
        TooLarge,    // larger than the whole queue: it can never be taken
        Closed,      // the owner has ended
    };

    // Poster side: places one request record of the session.
    PostResult post(uint16_t session, const uint8_t* record, uint32_t length);
    // Poster side: waits until half of the session's share is free again (or
    // the gate closes), at most `timeout`.
    void waitForShare(uint16_t session, std::chrono::milliseconds timeout);
    // Poster side, for a poster that sleeps on its own: until stopAwaiting,
    // `wake` is called once (it must only signal) when half of the session's
    // share is free again or the gate closes. The owner calls it after it has
    // let go of the gate's lock; the gate closing calls it under the lock.
    // False, and nothing registered, when there is room already.
    bool awaitShare(uint16_t session, std::function<void()> wake);
    // Returns once no call of the session's wake runs any more.
    void stopAwaiting(uint16_t session);

    // Owner side: a request of this session has left the queue. Moves the
    // next waiting requests into the queue, one per session in turn.
    void taken(uint16_t session);
    // Owner's idle wait: true when woken (a first request, or room for
    // answers), false after the timeout.
    template <class Rep, class Period>
    bool waitForRequests(std::chrono::duration<Rep, Period> timeout) {
        return ownerWake_.waitFor(timeout);
    }
    // Wakes the owner as a first request would.
    void wakeOwner() { ownerWake_.notify(); }
    // Owner side: whether `roomNow()` finds room for the answers of one more
    // request. Without room the owner takes no request until the reader of
    // its answers (the dispatcher) has made some; answerRoomMade then wakes
    // the owner.
    template <class RoomNow>
    bool answerRoom(RoomNow&& roomNow) {
        if (roomNow()) return true;
        ownerAwaitsRoom_.store(true);
        // Room made just before the flag was up woke nobody: look once more.
        if (!roomNow()) return false;
        ownerAwaitsRoom_.store(false);
        return true;
    }
    // Reader of the owner's answers: room was made; wakes the owner when it
    // waits for that (cheap otherwise).
    void answerRoomMade();

    // The owner has ended: posts are refused from now on, waiters return, and
    // the requests still waiting in the lines are handed back, oldest first
    // per session (the queue itself is the owner's to empty).
    std::vector<std::vector<uint8_t>> close();
    bool closed() const;

    // Requests of the session at the gate (in the queue and in its line).
    uint32_t waitingOf(uint16_t session) const;
    uint32_t sessionShare() const { return limits_.sessionShare; }
    BufferFifoBase& queue() const { return *queue_; }

private:
    struct Line {
        uint32_t queued = 0;                       // in the queue
        std::deque<std::vector<uint8_t>> waiting;  // not yet in the queue
        uint32_t waiters = 0;                      // posters waiting for the share
        std::function<void()> wake;                // of a poster sleeping on its own (awaitShare)
        bool waking = false;                       // its wake runs (outside the lock, see taken)
        bool inTurn = false;                       // listed in turns_
        std::condition_variable shareFreed;
        uint32_t total() const { return queued + uint32_t(waiting.size()); }
    };

    // All below run with mutex_ held.
    bool writeQueue(const uint8_t* record, uint32_t length) QV_REQUIRES(mutex_);
    void admitInTurn() QV_REQUIRES(mutex_);
    void forgetIfIdle(uint16_t session, Line& line) QV_REQUIRES(mutex_);
    // The owner's wake of the session's sleeper (see taken) has ended.
    void wakeEnded(uint16_t session) QV_EXCLUDES(mutex_);
    uint32_t lowWater() const { return limits_.sessionShare - limits_.sessionShare / 2; }

    const std::shared_ptr<BufferFifoBase> queue_;
    const Limits limits_;
    WakeSignal ownerWake_;
    std::atomic<bool> ownerAwaitsRoom_{false};

    mutable Mutex mutex_;
    bool closed_ QV_GUARDED_BY(mutex_) = false;
    uint32_t queued_ QV_GUARDED_BY(mutex_) = 0;
    // One line per session with requests at the gate or posters waiting.
    std::unordered_map<uint16_t, Line> lines_ QV_GUARDED_BY(mutex_);
    // Sessions with requests waiting in their lines, in the order of their
    // turns.
    std::deque<uint16_t> turns_ QV_GUARDED_BY(mutex_);
};

}  // namespace tarnix
