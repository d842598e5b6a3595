#pragma once
#include "core/component/QVBase.h"

#include <cstdint>
#include <memory>
#include <string>

namespace tarnix {

namespace exception {
class ExceptionCarrier;
}
namespace impl {
class ServerImpl;
}

// The top component of qvServer; component name "Server". Its children are
// the listener, the server node and the dispatcher, then the devices found.
class Server : public QVBase {
public:
    // childCarrier is shared by every child component; ownCarrier receives
    // the server thread's own failure and is polled by the main thread.
    // Throws QVException when the socket layer cannot be started.
    Server(exception::ExceptionCarrier& childCarrier, exception::ExceptionCarrier& ownCarrier);

    // Port, "always program the FPGA", and 1 to listen on all interfaces.
    void configure(uint16_t port, bool progAlways, int32_t openOverride);
    // The banner "qvServer V12.08 revision 17045/Linux".
    static std::string getVersionString();

    impl::ServerImpl& impl() const;
    std::shared_ptr<impl::ServerImpl> implShared() const;
};

// The process-wide server. Setting it also routes the node tree's device
// update requests and tree-change notices to it; clearing it stops that.
void setServerInstance(const std::shared_ptr<Server>& server);
std::shared_ptr<impl::ServerImpl> getServerInstance();

}  // namespace tarnix
