#include "platform/net/Socket.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <mutex>
#include <system_error>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace tarnix {
namespace platform {

Socket& Socket::operator=(Socket&& other) noexcept {
    if (this != &other) {
        close();
        fd_ = other.release();
    }
    return *this;
}

SocketHandle Socket::release() {
    SocketHandle fd = fd_;
    fd_ = kInvalidSocket;
    return fd;
}

bool Socket::close() {
    if (fd_ == kInvalidSocket) return true;
    // A close interrupted by a signal has released the descriptor already on
    // Linux; retrying could close a descriptor another thread just received.
    int rc = ::close(fd_);
    fd_ = kInvalidSocket;
    return rc == 0 || errno == EINTR;
}

void ignoreBrokenPipeSignal() {
    static std::once_flag once;
    std::call_once(once, [] {
        struct sigaction action {};
        action.sa_handler = SIG_IGN;
        sigemptyset(&action.sa_mask);
        sigaction(SIGPIPE, &action, nullptr);
    });
}

Socket createTcpSocket() { return Socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)); }

namespace {

bool setIntOption(SocketHandle fd, int level, int name, int value) {
    return ::setsockopt(fd, level, name, &value, sizeof value) == 0;
}

}  // namespace

bool setReuseAddress(SocketHandle fd, bool on) { return setIntOption(fd, SOL_SOCKET, SO_REUSEADDR, on ? 1 : 0); }
bool setOutOfBandInline(SocketHandle fd, bool on) { return setIntOption(fd, SOL_SOCKET, SO_OOBINLINE, on ? 1 : 0); }
bool setNoDelay(SocketHandle fd, bool on) { return setIntOption(fd, IPPROTO_TCP, TCP_NODELAY, on ? 1 : 0); }

bool setNonBlocking(SocketHandle fd, bool on) {
    int flags = ::fcntl(fd, F_GETFL, 0);
    if (flags < 0) return false;
    flags = on ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK);
    return ::fcntl(fd, F_SETFL, flags) == 0;
}

bool bindIPv4(SocketHandle fd, uint16_t port, bool anyAddress) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(anyAddress ? INADDR_ANY : INADDR_LOOPBACK);
    return ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
}

bool listenOn(SocketHandle fd, int backlog) { return ::listen(fd, backlog) == 0; }

uint16_t boundPort(SocketHandle fd) {
    sockaddr_in address{};
    socklen_t length = sizeof address;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) return 0;
    return ntohs(address.sin_port);
}

Socket acceptClient(SocketHandle listening) {
    for (;;) {
        int fd = ::accept4(listening, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd >= 0 || errno != EINTR) return Socket(fd);
    }
}

PollResult pollSocket(SocketHandle fd, bool wantWrite, int timeoutMs, int wakeFd) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    pollfd entries[2]{};
    pollfd& entry = entries[0];
    entry.fd = fd;
    entry.events = POLLIN | (wantWrite ? POLLOUT : 0);
    entries[1].fd = wakeFd;
    entries[1].events = POLLIN;
    const nfds_t watched = wakeFd >= 0 ? 2 : 1;
    PollResult result;
    int remaining = timeoutMs;
    for (;;) {
        entry.revents = 0;
        entries[1].revents = 0;
        result.count = ::poll(entries, watched, remaining);
        if (result.count >= 0 || errno != EINTR) break;
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        remaining = left > 0 ? int(left) : 0;
    }
    if (result.count > 0 && watched == 2) {
        result.woken = (entries[1].revents & POLLIN) != 0;
        if (result.woken) --result.count;
    }
    if (result.count > 0) {
        result.readable = (entry.revents & POLLIN) != 0;
        result.writable = (entry.revents & POLLOUT) != 0;
        result.failed = (entry.revents & (POLLERR | POLLNVAL)) != 0 ||
                        ((entry.revents & POLLHUP) != 0 && !result.readable);
    }
    return result;
}

ssize_t receiveSome(SocketHandle fd, void* buffer, size_t length) {
    for (;;) {
        ssize_t n = ::recv(fd, buffer, length, 0);
        if (n >= 0 || errno != EINTR) return n;
    }
}

ssize_t sendSome(SocketHandle fd, const void* data, size_t length) {
    for (;;) {
        ssize_t n = ::send(fd, data, length, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n >= 0) return n;
        if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
        if (errno != EINTR) return n;
    }
}

int lastSocketError() { return errno; }

int pendingSocketError(SocketHandle fd) {
    int error = 0;
    socklen_t length = sizeof(error);
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) return errno;
    return error;
}

bool isPeerDisconnect(int error) {
    switch (error) {
        case ECONNRESET:
        case EPIPE:
        case ECONNABORTED:
        case ENOTCONN:
        case ESHUTDOWN:
        case ETIMEDOUT:
            return true;
        default:
            return false;
    }
}

std::string socketErrorText(int error) { return std::system_category().message(error); }

int pendingInput(SocketHandle fd) {
    int bytes = 0;
    if (::ioctl(fd, FIONREAD, &bytes) != 0) return -1;
    return bytes;
}

}  // namespace platform
}  // namespace tarnix
