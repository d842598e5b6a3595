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
class ServerContext;

// The top component of qvServer; component name "Server". Its children are
// the listener, the server node and the dispatcher, then the devices found.
class Server : public QVBase {
public:
    // childCarrier is shared by every child component; ownCarrier receives
    // the server thread's own failure and is polled by the main thread.
    // Throws QVException when the socket layer cannot be started.
    // Without a context the server makes one of its own. Installs the
    // server's hooks in the context's tree registry.
    Server(exception::ExceptionCarrier& childCarrier, exception::ExceptionCarrier& ownCarrier,
           std::shared_ptr<ServerContext> context = nullptr);

    // Port, "always program the FPGA", and 1 to listen on all interfaces.
    void configure(uint16_t port, bool progAlways, int32_t openOverride);
    // The banner "qvServer V12.08 revision 17045/Linux".
    static std::string getVersionString();

    impl::ServerImpl& impl() const;
    std::shared_ptr<impl::ServerImpl> implShared() const;
};

// The program's server, for whoever needs it without being handed it. Each
// server routes the device update requests and tree-change notices of its
// own trees to itself from its construction on, whether it is set here or not.
void setServerInstance(const std::shared_ptr<Server>& server);
std::shared_ptr<impl::ServerImpl> getServerInstance();

}  // namespace tarnix
