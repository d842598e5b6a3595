#include "ClientSocket.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>

namespace tarnix {
namespace detail {

namespace {

std::atomic<int> gConnectionCount{0};

// Milliseconds left of a wait that started at `start`; never negative.
int remainingMs(std::chrono::steady_clock::time_point start, int32_t timeoutMs) {
    auto spent = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    long long left = (long long)timeoutMs - spent.count();
    return left > 0 ? int(left) : 0;
}

bool setIntOption(int socket, int level, int name) {
    int one = 1;
    return ::setsockopt(socket, level, name, &one, sizeof one) == 0;
}

}  // namespace

void acquireSocketLibrary() { gConnectionCount.fetch_add(1, std::memory_order_acq_rel); }

void releaseSocketLibrary() { gConnectionCount.fetch_sub(1, std::memory_order_acq_rel); }

ResolveResult resolveHostV4(const char* host, uint32_t& addressNetworkOrder) {
    if (host == nullptr) {
        addressNetworkOrder = htonl(INADDR_LOOPBACK);
        return ResolveResult::Ok;
    }
    addrinfo hints;
    std::memset(&hints, 0, sizeof hints);
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(host, nullptr, &hints, &found) != 0 || found == nullptr) return ResolveResult::NotFound;
    sockaddr_in first;
    std::memcpy(&first, found->ai_addr, sizeof first);
    ::freeaddrinfo(found);
    addressNetworkOrder = first.sin_addr.s_addr;
    return ResolveResult::Ok;
}

int openStreamSocket() {
    int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    return s >= 0 ? s : kNoSocket;
}

bool connectV4(int socket, uint32_t addressNetworkOrder, uint16_t port) {
    sockaddr_in to;
    std::memset(&to, 0, sizeof to);
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = addressNetworkOrder;
    if (::connect(socket, reinterpret_cast<const sockaddr*>(&to), sizeof to) == 0) return true;
    if (errno != EINTR) return false;
    // An interrupted connect goes on in the background; wait for its outcome.
    pollfd p{socket, POLLOUT, 0};
    while (::poll(&p, 1, -1) < 0) {
        if (errno != EINTR) return false;
    }
    int error = 0;
    socklen_t length = sizeof error;
    return ::getsockopt(socket, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0;
}

bool setClientOptions(int socket) {
    return setIntOption(socket, SOL_SOCKET, SO_REUSEADDR) && setIntOption(socket, SOL_SOCKET, SO_OOBINLINE) &&
           setIntOption(socket, IPPROTO_TCP, TCP_NODELAY);
}

WaitResult waitReadable(int socket, int32_t timeoutMs) {
    auto start = std::chrono::steady_clock::now();
    int wait = timeoutMs < 0 ? -1 : int(timeoutMs);
    for (;;) {
        pollfd p{socket, POLLIN | POLLPRI, 0};
        int n = ::poll(&p, 1, wait);
        if (n < 0) {
            if (errno != EINTR) return WaitResult::Failed;
            if (timeoutMs > 0) wait = remainingMs(start, timeoutMs);
            continue;
        }
        if (n == 0) return WaitResult::Timeout;
        if (p.revents & POLLNVAL) return WaitResult::Failed;
        // A hang-up or an error is read like data: the receive reports it.
        if (p.revents & (POLLIN | POLLHUP | POLLERR)) return WaitResult::Readable;
        return WaitResult::NotReadable;
    }
}

long receiveSome(int socket, uint8_t* buffer, uint32_t room) {
    for (;;) {
        ssize_t n = ::recv(socket, buffer, room, 0);
        if (n >= 0) return long(n);
        if (errno != EINTR) return -1;
    }
}

bool sendAll(int socket, const uint8_t* data, uint32_t length) {
    uint32_t sent = 0;
    while (sent < length) {
        ssize_t n = ::send(socket, data + sent, length - sent, MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        sent += uint32_t(n);
    }
    return true;
}

void closeSocket(int socket) {
    if (socket != kNoSocket) ::close(socket);
}

}  // namespace detail
}  // namespace tarnix
