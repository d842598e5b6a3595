#include "FakeServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <stdexcept>

#include "wire/BinaryWire.h"

namespace clienttest {

namespace wire = tarnix::wire;
namespace le = tarnix::le;

namespace {

bool waitReadable(int socket, int timeoutMs) {
    pollfd p{socket, POLLIN, 0};
    int n;
    do {
        n = ::poll(&p, 1, timeoutMs);
    } while (n < 0 && errno == EINTR);
    return n > 0;
}

int listenOnLoopback(uint16_t& port) {
    int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (s < 0) throw std::runtime_error("socket");
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = 0;
    socklen_t len = sizeof a;
    if (::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(s, 8) != 0 ||
        ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
        ::close(s);
        throw std::runtime_error("bind/listen");
    }
    port = ntohs(a.sin_port);
    return s;
}

}  // namespace

FakeConnection::~FakeConnection() { close(); }

void FakeConnection::close() {
    if (socket_ >= 0) ::close(socket_);
    socket_ = -1;
}

bool FakeConnection::send(const Bytes& bytes) {
    size_t sent = 0;
    while (sent < bytes.size()) {
        ssize_t n = ::send(socket_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        sent += size_t(n);
    }
    return true;
}

bool FakeConnection::sendInPieces(const Bytes& bytes, size_t pieceSize, int pauseMs) {
    for (size_t at = 0; at < bytes.size(); at += pieceSize) {
        size_t n = std::min(pieceSize, bytes.size() - at);
        if (!send(Bytes(bytes.begin() + long(at), bytes.begin() + long(at + n)))) return false;
        // The pause is the point: the client is to receive the bytes in parts.
        std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs));
    }
    return true;
}

bool FakeConnection::send(const std::string& text) { return send(Bytes(text.begin(), text.end())); }

bool FakeConnection::readExact(uint8_t* out, size_t n, int timeoutMs) {
    size_t got = 0;
    while (got < n) {
        if (!waitReadable(socket_, timeoutMs)) return false;
        ssize_t r = ::recv(socket_, out + got, n - got, 0);
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) return false;
        got += size_t(r);
    }
    return true;
}

bool FakeConnection::readLine(std::string& line, int timeoutMs) {
    line.clear();
    uint8_t c = 0;
    while (readExact(&c, 1, timeoutMs)) {
        line.push_back(char(c));
        if (c == '\n') return true;
    }
    return false;
}

bool FakeConnection::readRequest(Request& request, int timeoutMs) {
    uint8_t head[wire::kHeaderSize];
    if (!readExact(head, sizeof head, timeoutMs)) return false;
    wire::BinaryMessageHeader h = wire::decodeHeader(head);
    if (h.totalLength < wire::kHeaderSize) return false;
    request.type = h.type;
    request.sequenceId = h.sequenceId;
    request.body.assign(h.totalLength - wire::kHeaderSize, 0);
    if (!request.body.empty() && !readExact(request.body.data(), request.body.size(), timeoutMs)) return false;
    wire::PathView path;
    request.path.clear();
    if (h.type != wire::MSG_UPDATE_DEVICES && wire::decodePathField(request.body.data(), uint32_t(request.body.size()), path)) {
        request.path.assign(path.text, path.length);
    }
    return true;
}

bool FakeConnection::handshake() {
    if (!send(std::string("qvServer test, revision 1\r\n"))) return false;
    std::string line;
    if (!readLine(line) || line != "proto bin\n") return false;
    Bytes hello(wire::kHelloSize);
    wire::encodeHello(hello.data(), wire::Hello{12, 8, 17045});
    return send(hello);
}

bool FakeConnection::waitClosed(int timeoutMs) {
    uint8_t sink[4096];
    for (;;) {
        if (!waitReadable(socket_, timeoutMs)) return false;
        ssize_t r = ::recv(socket_, sink, sizeof sink, 0);
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) return true;
    }
}

FakeServer::FakeServer(Script script, int connections) {
    listener_ = listenOnLoopback(port_);
    thread_ = std::thread([this, script, connections] { serve(script, connections); });
}

FakeServer::~FakeServer() {
    stopping_ = true;
    thread_.join();
    ::close(listener_);
}

void FakeServer::serve(Script script, int connections) {
    for (int i = 0; i < connections && !stopping_; ) {
        if (!waitReadable(listener_, 50)) continue;
        int s = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (s < 0) continue;
        FakeConnection connection(s);
        script(connection);
        if (!connection.closed()) connection.waitClosed();
        ++served_;
        ++i;
    }
}

FakeServer::Script serveRequests(std::function<void(FakeConnection&, const Request&)> handler) {
    return [handler](FakeConnection& c) {
        if (!c.handshake()) return;
        Request r;
        while (!c.closed() && c.readRequest(r, 10000)) handler(c, r);
    };
}

uint16_t closedPort() {
    uint16_t port = 0;
    int s = listenOnLoopback(port);
    ::close(s);
    return port;
}

Bytes message(uint16_t type, uint16_t sequenceId, const Bytes& payload) {
    Bytes m(wire::kHeaderSize + payload.size());
    wire::encodeHeader(m.data(), type, uint32_t(m.size()), sequenceId);
    if (!payload.empty()) std::memcpy(m.data() + wire::kHeaderSize, payload.data(), payload.size());
    return m;
}

Bytes countReply(uint16_t type, uint16_t sequenceId, uint32_t count) {
    Bytes m(wire::kCountReplySize);
    wire::encodeCountReply(m.data(), type, sequenceId, count);
    return m;
}

Bytes errorReply(uint16_t sequenceId, uint16_t code) {
    Bytes m(wire::kErrorReplySize);
    wire::encodeErrorReply(m.data(), sequenceId, code);
    return m;
}

Bytes listReply(uint16_t sequenceId, const std::string& text) {
    return message(wire::MSG_LIST_NODES_REPLY, sequenceId, Bytes(text.begin(), text.end()));
}

Bytes valueEvent(uint16_t sequenceId, uint16_t dataType, uint32_t count, const std::string& path, const Bytes& data) {
    Bytes m(wire::valueEventSize(uint16_t(path.size()), uint32_t(data.size())));
    uint8_t* at = wire::encodeValueEventHead(m.data(), sequenceId, dataType, count, path.data(), uint16_t(path.size()),
                                             uint32_t(data.size()));
    if (!data.empty()) std::memcpy(at, data.data(), data.size());
    return m;
}

Bytes doubleEvent(uint16_t sequenceId, const std::string& path, double value) {
    Bytes data(8);
    le::putDouble(data.data(), value);
    return valueEvent(sequenceId, wire::EVENT_DOUBLE, 1, path, data);
}

Bytes integerEvent(uint16_t sequenceId, const std::string& path, int64_t value) {
    Bytes data(8);
    le::put64(data.data(), uint64_t(value));
    return valueEvent(sequenceId, wire::EVENT_INTEGER, 1, path, data);
}

Bytes byteArrayData(const Bytes& bytes) {
    Bytes data(4 + bytes.size());
    le::put32(data.data(), uint32_t(bytes.size()));
    if (!bytes.empty()) std::memcpy(data.data() + 4, bytes.data(), bytes.size());
    return data;
}

Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

}  // namespace clienttest
