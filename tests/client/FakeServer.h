#pragma once
#include "support/Wait.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

// A scripted stand-in for qvServer on 127.0.0.1 (a free port): each accepted
// connection runs the test's script on the server's thread. After a script
// returns, the server waits for the client to close before closing its side,
// unless the script closed the connection itself.
namespace clienttest {

using Bytes = std::vector<uint8_t>;

struct Request {
    uint16_t type = 0;
    uint16_t sequenceId = 0;
    Bytes body;
    std::string path;  // for requests that carry one
};

class FakeConnection {
public:
    explicit FakeConnection(int socket) : socket_(socket) {}
    FakeConnection(const FakeConnection&) = delete;
    FakeConnection& operator=(const FakeConnection&) = delete;
    ~FakeConnection();

    bool send(const Bytes& bytes);
    bool send(const std::string& text);
    // Sends in pieces of `pieceSize` bytes with a pause between them, so the
    // client receives the bytes in several parts.
    bool sendInPieces(const Bytes& bytes, size_t pieceSize, int pauseMs);
    // Reads exactly n bytes; false on time-out or end of stream.
    bool readExact(uint8_t* out, size_t n, int timeoutMs = 5000);
    bool readLine(std::string& line, int timeoutMs = 5000);
    bool readRequest(Request& request, int timeoutMs = 5000);
    // Greeting, "proto bin", hello; false when the client did not ask for
    // the binary protocol.
    bool handshake();
    // Waits until the client closes; false on time-out.
    bool waitClosed(int timeoutMs = 10000);
    void close();
    bool closed() const { return socket_ < 0; }

private:
    int socket_;
};

class FakeServer {
public:
    using Script = std::function<void(FakeConnection&)>;

    // Serves `connections` connections one after the other with the script.
    explicit FakeServer(Script script, int connections = 1);
    ~FakeServer();

    uint16_t port() const { return port_; }
    int served() const { return served_.load(); }
    // Waits until `count` connections were served to their end (the script
    // returned and the client closed); false when that takes longer than
    // `timeout`.
    bool waitServed(int count, std::chrono::milliseconds timeout = std::chrono::seconds(15)) const {
        return tarnix::test::waitUntil([&] { return served() >= count; }, timeout);
    }

private:
    void serve(Script script, int connections);

    int listener_ = -1;
    uint16_t port_ = 0;
    std::atomic<bool> stopping_{false};
    std::atomic<int> served_{0};
    std::thread thread_;
};

// Serves requests with `handler` after the handshake until the client closes.
FakeServer::Script serveRequests(std::function<void(FakeConnection&, const Request&)> handler);

// A port on 127.0.0.1 with nobody listening.
uint16_t closedPort();

// Server messages.
Bytes message(uint16_t type, uint16_t sequenceId, const Bytes& payload = {});
Bytes countReply(uint16_t type, uint16_t sequenceId, uint32_t count);
Bytes errorReply(uint16_t sequenceId, uint16_t code);
Bytes listReply(uint16_t sequenceId, const std::string& text);
Bytes valueEvent(uint16_t sequenceId, uint16_t dataType, uint32_t count, const std::string& path, const Bytes& data);
Bytes doubleEvent(uint16_t sequenceId, const std::string& path, double value);
Bytes integerEvent(uint16_t sequenceId, const std::string& path, int64_t value);
Bytes byteArrayData(const Bytes& bytes);
Bytes concat(std::initializer_list<Bytes> parts);

}  // namespace clienttest
