#pragma once
#include "core/component/QVBase.h"
#include "platform/net/Socket.h"

#include <memory>

namespace tarnix {

namespace exception {
class ExceptionCarrier;
}
namespace impl {
class SessionImpl;
}

// The server's side of one client connection; component name "Session".
class Session : public QVBase {
public:
    // Takes over the accepted socket. Throws QVException when no session id
    // is free (the socket is closed then).
    Session(platform::Socket socket, exception::ExceptionCarrier& carrier);

    impl::SessionImpl& impl() const;
};

}  // namespace tarnix
