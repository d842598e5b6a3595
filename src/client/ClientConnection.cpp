#include <cstring>

#include "ClientHandle.h"
#include "wire/BinaryWire.h"

namespace tarnix {
namespace client {

namespace {

constexpr uint32_t kGreetingMaximum = 4096;
constexpr int32_t kHandshakeTimeoutMs = 5000;
constexpr char kProtocolSwitch[] = "proto bin\n";

void resetReceiveState(QvHandle& handle) {
    handle.ring.reset();
    handle.spillFill = 0;
    handle.dropStatus = 0;
    handle.nextSequenceId = 1;
    handle.replyArrived = false;
    handle.replyLength = 0;
    handle.serverMajor = handle.serverMinor = handle.serverRevision = 0;
}

// Reads the server's text greeting up to its line end; its content is not
// needed. A greeting that arrives in pieces is read whole, so that no rest
// of it is later taken for a binary message.
QV_STATUS readGreeting(QvHandle& handle) {
    QV_STATUS st = handle.reply.reserve(kGreetingMaximum);
    if (st != QV_NO_ERROR) return st;
    uint32_t fill = 0;
    while (fill < kGreetingMaximum) {
        uint32_t received = kGreetingMaximum - fill;
        st = ClientReceive(handle, handle.reply.data() + fill, received, kHandshakeTimeoutMs);
        if (st != QV_NO_ERROR) return st;
        if (std::memchr(handle.reply.data() + fill, '\n', received) != nullptr) return QV_NO_ERROR;
        fill += received;
    }
    return QV_NO_ERROR;
}

QV_STATUS switchToBinary(QvHandle& handle) {
    if (handle.socket == detail::kNoSocket) return QV_CONNECTION_INVALID;
    if (!detail::sendAll(handle.socket, reinterpret_cast<const uint8_t*>(kProtocolSwitch),
                         uint32_t(sizeof kProtocolSwitch - 1))) {
        ClientCloseSocket(handle);
        return QV_CONNECTION_INVALID;
    }
    QV_STATUS st = ClientWaitMessage(handle, wire::kUnsolicitedId, kHandshakeTimeoutMs);
    if (st != QV_NO_ERROR) return st;
    const uint8_t* hello = handle.reply.data();
    if (handle.replyLength < wire::kHelloSize || wire::decodeHeader(hello).type != wire::MSG_HELLO) {
        return QV_CONNECTION_INVALID;
    }
    wire::Hello words = wire::decodeHello(hello);
    handle.serverMajor = words.major;
    handle.serverMinor = words.minor;
    handle.serverRevision = words.revision;
    return QV_NO_ERROR;
}

// Everything after the socket exists; any failure leaves the socket to the
// caller to close.
QV_STATUS connectSocket(QvHandle& handle, uint32_t address, uint16_t port) {
    if (!detail::connectV4(handle.socket, address, port)) return QV_SOCKET_CONNECT_FAILED;
    if (!detail::setClientOptions(handle.socket)) return QV_SOCKET_CONNECT_FAILED;
    QV_STATUS st = readGreeting(handle);
    if (st != QV_NO_ERROR) return st;
    return switchToBinary(handle);
}

}  // namespace

bool handleValid(const QvHandle* handle) {
    return handle != nullptr && handle->magic == QvHandle::kMagic && handle->reply.present();
}

std::unique_ptr<QvHandle> ClientCreateHandle() {
    std::unique_ptr<QvHandle> handle(new (std::nothrow) QvHandle);
    if (!handle || !handle->ring.valid() || !handle->reply.present()) return nullptr;
    handle->magic = QvHandle::kMagic;
    return handle;
}

QV_STATUS ClientCloseSocket(QvHandle& handle) {
    if (handle.socket != detail::kNoSocket) {
        detail::closeSocket(handle.socket);
        handle.socket = detail::kNoSocket;
        detail::releaseSocketLibrary();
    }
    handle.ring.dropWindow();
    handle.spillFill = 0;
    return QV_NO_ERROR;
}

QV_STATUS ClientConnect(QvHandle& handle, const char* host, uint16_t port) {
    ClientCloseSocket(handle);
    resetReceiveState(handle);
    detail::acquireSocketLibrary();
    uint32_t address = 0;
    if (detail::resolveHostV4(host, address) != detail::ResolveResult::Ok) {
        detail::releaseSocketLibrary();
        return QV_HOST_NOT_FOUND;
    }
    handle.socket = detail::openStreamSocket();
    if (handle.socket == detail::kNoSocket) {
        detail::releaseSocketLibrary();
        return QV_SOCKET_INIT_FAILED;
    }
    // From here the socket holds the count and gives it back when closed.
    QV_STATUS st = connectSocket(handle, address, port == 0 ? QV_DEFAULT_PORT : port);
    if (st != QV_NO_ERROR) ClientCloseSocket(handle);
    return st;
}

}  // namespace client
}  // namespace tarnix

using namespace tarnix::client;

extern "C" {

QV_STATUS qvAPIInit(QvHandle** handle) {
    if (handle == nullptr) return QV_CONNECTION_INVALID;
    *handle = nullptr;
    return guarded([&] {
        std::unique_ptr<QvHandle> created = ClientCreateHandle();
        if (!created) return QV_STATUS(QV_ALLOC_FAILED);
        *handle = created.release();  // the caller holds it until qvAPIDestroy
        return QV_STATUS(QV_NO_ERROR);
    });
}

QV_STATUS qvAPIDestroy(QvHandle* handle) {
    // A handle that lost its reply buffer is still ours to free.
    if (handle == nullptr || handle->magic != QvHandle::kMagic) return QV_CONNECTION_INVALID;
    std::unique_ptr<QvHandle> owned(handle);
    ClientCloseSocket(*owned);
    owned->magic = 0;
    return QV_NO_ERROR;
}

QV_STATUS qvAPIConnect(QvHandle* handle, const char* host, uint16_t port) {
    if (!handleValid(handle)) return QV_CONNECTION_INVALID;
    return guarded([&] { return ClientConnect(*handle, host, port); });
}

QV_STATUS qvAPIDisconnect(QvHandle* handle) {
    if (!handleValid(handle)) return QV_CONNECTION_INVALID;
    return ClientCloseSocket(*handle);
}

}  // extern "C"
