#include "core/tree/RequestGate.h"

#include "core/QVException.h"
#include "core/fifo/BufferFifo.h"

#include <algorithm>
#include <atomic>

namespace tarnix {

RequestGate::RequestGate(std::shared_ptr<BufferFifoBase> queue, std::function<void()> alsoWake, Limits limits)
    : queue_(std::move(queue)),
      limits_{std::max(1u, limits.sessionShare), std::max(1u, limits.queueWindow)},
      ownerWake_(std::move(alsoWake)) {
    if (!queue_) QV_THROW(QVException("Invalid FIFO (NULL pointer)."));
}

RequestGate::~RequestGate() = default;

bool RequestGate::writeQueue(const uint8_t* record, uint32_t length) {
    FifoWriter writer(*queue_, length);
    if (!writer.isValid()) return false;
    writer.commit(record, length);
    return true;
}

RequestGate::PostResult RequestGate::post(uint16_t session, const uint8_t* record, uint32_t length) {
    bool first = false;
    {
        LockGuard<Mutex> lock(mutex_);
        if (closed_) return PostResult::Closed;
        if (length > queue_->dataCapacity()) return PostResult::TooLarge;
        Line& line = lines_[session];
        if (line.total() >= limits_.sessionShare) return PostResult::ShareFull;
        // Straight into the queue only when nobody waits for a turn: a
        // request never passes the ones that wait.
        if (turns_.empty() && queued_ < limits_.queueWindow && writeQueue(record, length)) {
            first = queued_ == 0;
            ++queued_;
            ++line.queued;
        } else {
            line.waiting.emplace_back(record, record + length);
            if (!line.inTurn) {
                line.inTurn = true;
                turns_.push_back(session);
            }
            return PostResult::Waiting;
        }
    }
    // An owner with requests in its queue is awake or about to take them.
    if (first) ownerWake_.notify();
    return PostResult::Queued;
}

void RequestGate::admitInTurn() {
    while (queued_ < limits_.queueWindow && !turns_.empty()) {
        const uint16_t session = turns_.front();
        Line& line = lines_[session];
        const std::vector<uint8_t>& record = line.waiting.front();
        // Without room for its bytes the turn stays; the next request taken
        // makes room (a record never exceeds the whole queue).
        if (!writeQueue(record.data(), uint32_t(record.size()))) return;
        turns_.pop_front();
        line.waiting.pop_front();
        ++queued_;
        ++line.queued;
        if (line.waiting.empty())
            line.inTurn = false;
        else
            turns_.push_back(session);
    }
}

void RequestGate::taken(uint16_t session) {
    std::function<void()> wake;
    {
        LockGuard<Mutex> lock(mutex_);
        if (queued_ > 0) --queued_;
        const auto it = lines_.find(session);
        if (it != lines_.end()) {
            Line& line = it->second;
            if (line.queued > 0) --line.queued;
            // Only this session's share freed: only its poster is woken, and
            // only once it can post half a share in one go.
            if (line.total() <= lowWater()) {
                if (line.waiters > 0) line.shareFreed.notify_all();
                if (line.wake) {
                    wake = std::move(line.wake);
                    line.wake = nullptr;
                    line.waking = true;
                }
            }
        }
        admitInTurn();
        if (it != lines_.end()) forgetIfIdle(session, it->second);
    }
    if (!wake) return;
    // A wake is a system call: made under the lock, it would hold up every
    // other session's post and the owner's next take (with many busy
    // sessions, they would sleep on the lock and cost one more wake each).
    // Its end is marked also when it throws, so that its poster goes on.
    struct WakeEnd {
        RequestGate& gate;
        uint16_t session;
        ~WakeEnd() { gate.wakeEnded(session); }
    } end{*this, session};
    wake();
}

void RequestGate::wakeEnded(uint16_t session) {
    LockGuard<Mutex> lock(mutex_);
    const auto it = lines_.find(session);
    if (it == lines_.end()) return;
    it->second.waking = false;
    if (it->second.waiters > 0) it->second.shareFreed.notify_all();
    forgetIfIdle(session, it->second);
}

void RequestGate::waitForShare(uint16_t session, std::chrono::milliseconds timeout) {
    UniqueLock<Mutex> lock(mutex_);
    if (closed_) return;
    Line& line = lines_[session];
    if (line.total() < limits_.sessionShare) {
        forgetIfIdle(session, line);
        return;
    }
    ++line.waiters;
    line.shareFreed.wait_for(lock.native(), timeout,
                             [&]() QV_REQUIRES(mutex_) { return closed_ || line.total() <= lowWater(); });
    --line.waiters;
    forgetIfIdle(session, line);
}

bool RequestGate::awaitShare(uint16_t session, std::function<void()> wake) {
    LockGuard<Mutex> lock(mutex_);
    if (closed_) return false;
    Line& line = lines_[session];
    if (line.total() < limits_.sessionShare) {
        forgetIfIdle(session, line);
        return false;
    }
    line.wake = std::move(wake);
    return true;
}

void RequestGate::stopAwaiting(uint16_t session) {
    UniqueLock<Mutex> lock(mutex_);
    const auto it = lines_.find(session);
    if (it == lines_.end()) return;
    Line& line = it->second;
    line.wake = nullptr;
    // A wake on its way (see taken) ends before the poster goes on: the
    // wake may use what the poster frees once it has stopped awaiting.
    if (line.waking) {
        ++line.waiters;
        line.shareFreed.wait(lock.native(), [&]() QV_REQUIRES(mutex_) { return !line.waking; });
        --line.waiters;
    }
    forgetIfIdle(session, line);
}

void RequestGate::forgetIfIdle(uint16_t session, Line& line) {
    if (line.queued == 0 && line.waiting.empty() && line.waiters == 0 && !line.wake && !line.waking)
        lines_.erase(session);
}

void RequestGate::answerRoomMade() {
    // Pairs with the owner's flag, raised before it looks at the room once
    // more: either the owner sees the room, or this sees the flag.
    std::atomic_thread_fence(std::memory_order_seq_cst);
    if (ownerAwaitsRoom_.load(std::memory_order_relaxed) && ownerAwaitsRoom_.exchange(false)) ownerWake_.notify();
}

std::vector<std::vector<uint8_t>> RequestGate::close() {
    std::vector<std::vector<uint8_t>> left;
    {
        LockGuard<Mutex> lock(mutex_);
        closed_ = true;
        for (const uint16_t session : turns_) {
            Line& line = lines_[session];
            for (std::vector<uint8_t>& record : line.waiting) left.push_back(std::move(record));
            line.waiting.clear();
            line.inTurn = false;
        }
        turns_.clear();
        for (auto it = lines_.begin(); it != lines_.end();) {
            if (it->second.wake) {
                it->second.wake();
                it->second.wake = nullptr;
            }
            if (it->second.waiters != 0 || it->second.waking) {
                it->second.shareFreed.notify_all();
                ++it;
            } else {
                it = lines_.erase(it);
            }
        }
    }
    ownerWake_.notify();
    return left;
}

bool RequestGate::closed() const {
    LockGuard<Mutex> lock(mutex_);
    return closed_;
}

uint32_t RequestGate::waitingOf(uint16_t session) const {
    LockGuard<Mutex> lock(mutex_);
    const auto it = lines_.find(session);
    return it == lines_.end() ? 0 : it->second.total();
}

}  // namespace tarnix
