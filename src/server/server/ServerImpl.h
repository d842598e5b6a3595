#pragma once
#include "core/component/QVBaseImpl.h"
#include "platform/net/WakeEvent.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

namespace tarnix {

class DeviceGroup;
class Dispatcher;
class Listener;
class ServerNode;
class ServerContext;

namespace impl {

// Holds the server's context. A base of the server ahead of the component
// base, so that the context is made before and destroyed after the child list:
// whichever way the server goes, its children (which refer to the context) are
// gone before the context is, also when its constructor fails half-way.
class ServerContextHolder {
protected:
    explicit ServerContextHolder(std::shared_ptr<ServerContext> context);
    const std::shared_ptr<ServerContext> context_;
};

class ServerImpl : private ServerContextHolder, public QVBaseImpl {
public:
    // Without a context the server makes one of its own.
    ServerImpl(exception::ExceptionCarrier& childCarrier, exception::ExceptionCarrier& ownCarrier,
               std::shared_ptr<ServerContext> context = nullptr);
    ~ServerImpl() override;

    void pre() override;
    void run() override;
    // Also ends the rest between two passes at once.
    void stop() override;

    void configure(uint16_t port, bool progAlways, int32_t openOverride);
    // Asks every device group for new devices, starts them and makes them
    // children. Runs on the server thread and on session threads, one at a
    // time.
    void updateDevices();

    // Adds a further device group (before start).
    void addDeviceGroup(const std::shared_ptr<DeviceGroup>& group);

    const std::shared_ptr<Listener>& listener() const { return listener_; }
    const std::shared_ptr<ServerNode>& serverNode() const { return serverNode_; }
    const std::shared_ptr<Dispatcher>& dispatcher() const { return dispatcher_; }
    exception::ExceptionCarrier& childCarrier() const { return childCarrier_; }
    ServerContext& context() const { return *context_; }

private:
    std::shared_ptr<DeviceGroup> deviceGroup_;
    std::vector<std::shared_ptr<DeviceGroup>> deviceGroups_;
    std::shared_ptr<Dispatcher> dispatcher_;
    exception::ExceptionCarrier& childCarrier_;
    std::shared_ptr<ServerNode> serverNode_;
    std::shared_ptr<Listener> listener_;
    platform::WakeEvent stopWake_;
    std::mutex updateMutex_;
    bool lookAgainSoon_ = false;
};

}  // namespace impl
}  // namespace tarnix
