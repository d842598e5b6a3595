#pragma once
#include "core/component/QVBase.h"
#include "platform/net/Socket.h"

#include <memory>

namespace tarnix {

namespace exception {
class ExceptionCarrier;
}
class ServerContext;
namespace impl {
class SessionImpl;
}

// The server's side of one client connection; component name "Session".
class Session : public QVBase {
public:
    // Takes over the accepted socket. Throws QVException when no session id
    // is free (the socket is closed then).
    Session(platform::Socket socket, exception::ExceptionCarrier& carrier, ServerContext& context);

    impl::SessionImpl& impl() const;
};

}  // namespace tarnix
