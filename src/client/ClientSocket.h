#pragma once
#include <cstdint>

// The client library's socket layer: IPv4 TCP on POSIX sockets. Every call
// retries after a signal interruption; sends never raise SIGPIPE.
namespace tarnix {
namespace detail {

constexpr int kNoSocket = -1;

// Process-wide count of connection attempts that hold the socket library.
// Starting and cleaning up the library are no-ops here; the count is kept so
// that the library's lifetime stays observable and balanced.
void acquireSocketLibrary();
void releaseSocketLibrary();

enum class ResolveResult { Ok, NotFound };

// IPv4 address (network byte order) of host; a null host is the loopback
// address and is not looked up.
ResolveResult resolveHostV4(const char* host, uint32_t& addressNetworkOrder);

// A new IPv4 stream socket (close-on-exec), or kNoSocket.
int openStreamSocket();

// Blocking connect; false on failure.
bool connectV4(int socket, uint32_t addressNetworkOrder, uint16_t port);

// SO_REUSEADDR, SO_OOBINLINE and TCP_NODELAY; false when one cannot be set.
bool setClientOptions(int socket);

enum class WaitResult { Readable, Timeout, NotReadable, Failed };

// Waits until the socket is readable or reports an error condition.
// timeoutMs < 0 waits without limit, 0 only looks.
WaitResult waitReadable(int socket, int32_t timeoutMs);

// One receive of at most room bytes; returns the count, 0 when the peer
// closed, -1 on an error.
long receiveSome(int socket, uint8_t* buffer, uint32_t room);

// Sends every byte; false when a send fails.
bool sendAll(int socket, const uint8_t* data, uint32_t length);

void closeSocket(int socket);

}  // namespace detail
}  // namespace tarnix
