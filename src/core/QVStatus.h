#pragma once
// An exception ends a component; a status code answers a request.
//
// A fault that leaves a component unable to go on (a device that stopped
// answering, a broken invariant) is thrown and ends that component. A request
// that cannot be served (unknown node, full buffer, failed command) is answered
// with a QV_STATUS, and its caller hands the status on to whoever asked. A
// status is therefore never dropped silently: QV_STATUS is [[nodiscard]], and
// a caller that has nobody to hand it to says so with ignore().
#include "wire/QvStatusCodes.h"

#include <cstdint>

namespace tarnix {

// Status word of the device engine, the node handlers and the dispatcher
// tree; the codes are the shared table's (QV_NO_ERROR ...).
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
