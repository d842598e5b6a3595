#pragma once
#include "core/tree/TreeRegistry.h"
#include "platform/usb/UsbBackend.h"
#include "server/session/ProtocolTable.h"
#include "server/session/SessionIds.h"

#include <memory>

namespace tarnix {

// The state one server shares among its parts: the trees with their locks,
// sessions and hooks (TreeRegistry), the client protocols, the session ids
// and the back-end through which instruments are found and opened. The server
// owns it and hands it to each part it makes (listener, sessions, dispatcher,
// server node, device groups and their devices), which keep a reference; it
// outlives them all. Nothing of it is process-wide, so
// two servers (or a test and its stand-ins) can live in one process.
class ServerContext {
public:
    // Without a back-end: the sockets of the instrument directory.
    explicit ServerContext(std::shared_ptr<platform::usb::Backend> usbBackend = nullptr);
    ServerContext(const ServerContext&) = delete;
    ServerContext& operator=(const ServerContext&) = delete;

    TreeRegistry& treeRegistry() { return treeRegistry_; }
    ProtocolTable& protocols() { return protocols_; }
    SessionIds& sessionIds() { return sessionIds_; }
    const std::shared_ptr<platform::usb::Backend>& usbBackend() const { return usbBackend_; }

private:
    TreeRegistry treeRegistry_;
    ProtocolTable protocols_;
    SessionIds sessionIds_;
    const std::shared_ptr<platform::usb::Backend> usbBackend_;
};

}  // namespace tarnix
