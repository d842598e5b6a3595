#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <sys/types.h>

// Thin TCP socket layer of the server: an owning socket handle and the few
// calls the listener and the sessions make. Every call retries on EINTR, no
// call raises SIGPIPE, and failures are reported as -1 / false with errno set.
namespace tarnix {
namespace platform {

using SocketHandle = int;
constexpr SocketHandle kInvalidSocket = -1;

// Owns one socket descriptor; closes it on destruction. Move-only.
class Socket {
public:
    Socket() = default;
    explicit Socket(SocketHandle fd) : fd_(fd) {}
    ~Socket() { close(); }
    Socket(Socket&& other) noexcept : fd_(other.release()) {}
    Socket& operator=(Socket&& other) noexcept;
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;

    SocketHandle get() const { return fd_; }
    bool valid() const { return fd_ != kInvalidSocket; }
    SocketHandle release();
    // Returns false when the system reported a failure; the handle is gone anyway.
    bool close();

private:
    SocketHandle fd_ = kInvalidSocket;
};

// Makes a broken connection an error result instead of a fatal signal for the
// whole process. Idempotent.
void ignoreBrokenPipeSignal();

// IPv4 TCP socket, close-on-exec. Invalid on failure.
Socket createTcpSocket();
bool setReuseAddress(SocketHandle fd, bool on);
bool setOutOfBandInline(SocketHandle fd, bool on);
bool setNoDelay(SocketHandle fd, bool on);
bool setNonBlocking(SocketHandle fd, bool on);
// Binds to the port on 0.0.0.0 (anyAddress) or 127.0.0.1.
bool bindIPv4(SocketHandle fd, uint16_t port, bool anyAddress);
bool listenOn(SocketHandle fd, int backlog);
// The port the socket is bound to, 0 when unknown.
uint16_t boundPort(SocketHandle fd);

// Accepts one waiting client (close-on-exec). On a non-blocking listening
// socket an empty backlog yields an invalid socket with errno EAGAIN.
Socket acceptClient(SocketHandle listening);

struct PollResult {
    int count = 0;  // > 0 ready, 0 time-out, < 0 failure (errno set)
    bool readable = false;
    bool writable = false;
    bool failed = false;  // error condition or hang-up on the socket
    bool woken = false;   // the wake descriptor was readable
};

// Waits up to timeoutMs for the socket to become readable and, when asked,
// writable. EINTR restarts the wait with the time that is left.
// With a wake descriptor (WakeEvent) the wait also ends when that becomes
// readable; count then counts the socket's readiness only.
PollResult pollSocket(SocketHandle fd, bool wantWrite, int timeoutMs, int wakeFd = -1);

// recv/send with EINTR handled; send never raises SIGPIPE.
ssize_t receiveSome(SocketHandle fd, void* buffer, size_t length);
ssize_t sendSome(SocketHandle fd, const void* data, size_t length);

// Bytes that can be read at once without blocking, -1 when unknown.
int pendingInput(SocketHandle fd);

// Why a socket call on this thread failed last (errno), and why a socket is
// in its error state (SO_ERROR, 0 for none; errno when it cannot be asked).
int lastSocketError();
int pendingSocketError(SocketHandle fd);
// True for the reasons by which a peer that closed or reset its connection
// shows, as opposed to a fault on this side.
bool isPeerDisconnect(int error);
// The system's text for the reason, e.g. "Connection reset by peer".
std::string socketErrorText(int error);

}  // namespace platform
}  // namespace tarnix
