#pragma once
// An exception ends a component; a status code answers a request.
//
// A fault that leaves a component unable to go on (a device that stopped
// answering, a broken invariant) is thrown and ends that component. A request
// that cannot be served (unknown node, full buffer, failed command) is answered
// with a QV_STATUS, and its caller hands the status on to whoever asked. A
// status is therefore never dropped silently: QV_STATUS is [[nodiscard]], and
// a caller that has nobody to hand it to says so with ignore().
#include <cstdint>

enum : uint32_t {
    QV_NO_ERROR = 0x0000,
    QV_WARN_GENERAL = 0x4000,
    QV_UNDERRUN = 0x4001,
    QV_OVERFLOW = 0x4002,
    QV_VALUE_NOT_FOUND = 0x4003,
    QV_ERR_GENERAL = 0x8000,
    QV_USB_FAILED = 0x8001,
    QV_ALLOC_FAILED = 0x8002,
    QV_MUTEX_INIT_FAILED = 0x8003,
    QV_MUTEX_DESTROY_FAILED = 0x8004,
    QV_MUTEX_LOCK = 0x8005,
    QV_MUTEX_UNLOCK = 0x8006,
    QV_THREAD_START_FAILED = 0x8007,
    QV_THREAD_JOIN_FAILED = 0x8008,
    QV_SOCKET_INIT_FAILED = 0x8009,
    QV_SOCKET_CONNECT_FAILED = 0x800A,
    QV_HOST_NOT_FOUND = 0x800B,
    QV_CONNECTION_INVALID = 0x800C,
    QV_COMMAND_TIMEOUT = 0x800D,
    QV_COMMAND_INTERNAL = 0x800E,
    QV_COMMAND_SERVER_FAILED = 0x800F,
    QV_BUFFER_TOO_SMALL = 0x8010,
    QV_FILE_FAILED = 0x8011,
    QV_ITEM_EXISTS = 0x8012,
};

namespace tarnix {

// Status word of the device engine, the node handlers and the dispatcher
// tree.
class [[nodiscard]] QV_STATUS {
public:
    constexpr QV_STATUS() noexcept = default;
    // Implicit, so that `return QV_ITEM_EXISTS;` and `status == QV_NO_ERROR` read as before.
    constexpr QV_STATUS(uint32_t code) noexcept : code_(code) {}

    // The word as it goes onto the wire or into the client API.
    constexpr uint32_t code() const noexcept { return code_; }
    // True for anything but QV_NO_ERROR, warnings included.
    constexpr explicit operator bool() const noexcept { return code_ != QV_NO_ERROR; }
    constexpr bool isError() const noexcept { return (code_ & QV_ERR_GENERAL) != 0; }

    // Drops the status on purpose.
    constexpr void ignore() const noexcept {}

    friend constexpr bool operator==(QV_STATUS a, QV_STATUS b) noexcept { return a.code_ == b.code_; }
    friend constexpr bool operator!=(QV_STATUS a, QV_STATUS b) noexcept { return a.code_ != b.code_; }

private:
    uint32_t code_ = QV_NO_ERROR;
};

}  // namespace tarnix
