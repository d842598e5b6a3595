#include "core/tree/RequestGate.h"

namespace tarnix {

namespace {
constexpr uint32_t kSessionIds = 65536;
}  // namespace

RequestGate::RequestGate(std::function<void()> alsoWake, uint32_t sessionLimit)
    : ownerWake_(std::move(alsoWake)),
      limit_(sessionLimit == 0 ? 1 : sessionLimit),
      waiting_(new uint16_t[kSessionIds]()) {}

RequestGate::PostResult RequestGate::post(uint16_t session, const std::function<bool()>& write) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (closed_) return PostResult::Closed;
        if (waiting_[session] >= limit_) return PostResult::SessionLimit;
        if (!write()) return PostResult::Full;
        ++waiting_[session];
    }
    ownerWake_.notify();
    return PostResult::Posted;
}

void RequestGate::taken(uint16_t session) {
    bool wakeRoom = false;
    bool wakeSessions = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (waiting_[session] > 0) --waiting_[session];
        ++takenCount_;
        wakeRoom = roomWaiters_ > 0;
        wakeSessions = sessionWaiters_ > 0;
    }
    if (wakeRoom) roomFreed_.notify_one();
    if (wakeSessions) sessionFreed_.notify_all();
}

void RequestGate::close() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        closed_ = true;
    }
    roomFreed_.notify_all();
    sessionFreed_.notify_all();
}

bool RequestGate::closed() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return closed_;
}

void RequestGate::waitForRoom(uint16_t session, bool forSession, std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (closed_) return;
    const uint64_t takenBefore = takenCount_;
    if (forSession) {
        if (waiting_[session] < limit_) return;
        ++sessionWaiters_;
        sessionFreed_.wait_for(lock, timeout, [&] { return closed_ || waiting_[session] < limit_; });
        --sessionWaiters_;
    } else {
        ++roomWaiters_;
        roomFreed_.wait_for(lock, timeout, [&] { return closed_ || takenCount_ != takenBefore; });
        --roomWaiters_;
    }
}

uint32_t RequestGate::waitingOf(uint16_t session) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return waiting_[session];
}

}  // namespace tarnix
