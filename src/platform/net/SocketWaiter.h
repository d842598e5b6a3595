#pragma once
#include "platform/net/Socket.h"

namespace tarnix {
namespace platform {

// Waits for one socket and a wake descriptor (WakeEvent) together, as
// pollSocket does, through an epoll set made once for the pair. A thread that
// sleeps in epoll is woken by a peer's write to the socket as a synchronous
// wake-up, which lets the scheduler run it on the writer's CPU: a client that
// asks and waits, and the thread that answers it, then hand the CPU to each
// other instead of each waking a CPU of its own.
class SocketWaiter {
public:
    SocketWaiter(SocketHandle fd, int wakeFd);
    ~SocketWaiter();
    SocketWaiter(const SocketWaiter&) = delete;
    SocketWaiter& operator=(const SocketWaiter&) = delete;

    // Waits up to timeoutMs for the socket to become readable and, when
    // asked, writable, or for the wake descriptor; the result reads as
    // pollSocket's. Falls back to pollSocket when the epoll set could not be
    // made.
    PollResult wait(bool wantWrite, int timeoutMs);

    // Whether the epoll set could be made.
    bool valid() const { return epoll_ >= 0; }
    // Gives the epoll set back (by the waiting thread, once it waits no more).
    void close();

private:
    bool watch(bool wantWrite);

    int epoll_;
    const SocketHandle fd_;
    const int wakeFd_;
    bool watchingWrite_ = false;
};

}  // namespace platform
}  // namespace tarnix
