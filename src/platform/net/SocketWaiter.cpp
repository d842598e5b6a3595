#include "platform/net/SocketWaiter.h"

#include <cerrno>
#include <chrono>
#include <sys/epoll.h>
#include <unistd.h>

namespace tarnix {
namespace platform {

namespace {

// Tells the two descriptors apart in the events.
constexpr uint64_t kSocketTag = 1;
constexpr uint64_t kWakeTag = 2;

uint32_t socketEvents(bool wantWrite) { return EPOLLIN | (wantWrite ? uint32_t(EPOLLOUT) : 0u); }

}  // namespace

SocketWaiter::SocketWaiter(SocketHandle fd, int wakeFd) : epoll_(::epoll_create1(EPOLL_CLOEXEC)), fd_(fd), wakeFd_(wakeFd) {
    if (epoll_ < 0) return;
    epoll_event socketEntry{};
    socketEntry.events = socketEvents(false);
    socketEntry.data.u64 = kSocketTag;
    epoll_event wakeEntry{};
    wakeEntry.events = EPOLLIN;
    wakeEntry.data.u64 = kWakeTag;
    if (::epoll_ctl(epoll_, EPOLL_CTL_ADD, fd_, &socketEntry) != 0 ||
        (wakeFd_ >= 0 && ::epoll_ctl(epoll_, EPOLL_CTL_ADD, wakeFd_, &wakeEntry) != 0)) {
        ::close(epoll_);
        epoll_ = -1;
    }
}

SocketWaiter::~SocketWaiter() { close(); }

void SocketWaiter::close() {
    if (epoll_ >= 0) ::close(epoll_);
    epoll_ = -1;
}

bool SocketWaiter::watch(bool wantWrite) {
    if (wantWrite == watchingWrite_) return true;
    epoll_event entry{};
    entry.events = socketEvents(wantWrite);
    entry.data.u64 = kSocketTag;
    if (::epoll_ctl(epoll_, EPOLL_CTL_MOD, fd_, &entry) != 0) return false;
    watchingWrite_ = wantWrite;
    return true;
}

PollResult SocketWaiter::wait(bool wantWrite, int timeoutMs) {
    if (epoll_ < 0 || !watch(wantWrite)) return pollSocket(fd_, wantWrite, timeoutMs, wakeFd_);
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    epoll_event events[2]{};
    int ready = 0;
    for (int remaining = timeoutMs;;) {
        ready = ::epoll_wait(epoll_, events, 2, remaining);
        if (ready >= 0 || errno != EINTR) break;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        remaining = left > 0 ? int(left) : 0;
    }
    PollResult result;
    if (ready < 0) {
        result.count = ready;
        return result;
    }
    for (int i = 0; i < ready; ++i) {
        const uint32_t got = events[i].events;
        if (events[i].data.u64 == kWakeTag) {
            result.woken = (got & EPOLLIN) != 0;
            continue;
        }
        result.readable = (got & EPOLLIN) != 0;
        result.writable = (got & EPOLLOUT) != 0;
        result.failed = (got & EPOLLERR) != 0 || ((got & EPOLLHUP) != 0 && !result.readable);
        result.count = (result.readable || result.writable || result.failed) ? 1 : 0;
    }
    return result;
}

}  // namespace platform
}  // namespace tarnix
