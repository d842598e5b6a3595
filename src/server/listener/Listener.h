#pragma once
#include "core/component/QVBase.h"

#include <chrono>
#include <cstdint>

namespace tarnix {

namespace exception {
class ExceptionCarrier;
}
class ServerContext;
namespace impl {
class ListenerImpl;
}

// Owns the listening TCP socket and makes a session for every client;
// component name "Listener". Port and openness can change while it runs.
class Listener : public QVBase {
public:
    static constexpr uint16_t kDefaultPort = 8005;

    Listener(exception::ExceptionCarrier& carrier, ServerContext& context);

    // 1 listens on all interfaces, any other value on the loopback address.
    void setOpenOverride(int32_t value);
    void setPort(uint16_t port);
    int32_t getOpenOverride() const;
    // The port requested, or after a failed change, the port still in use.
    uint16_t getPort() const;

    // Waits until the listener has acted on the latest settings; false on
    // time-out.
    bool waitForSettingsApplied(std::chrono::milliseconds timeout) const;

    impl::ListenerImpl& impl() const;
};

}  // namespace tarnix
