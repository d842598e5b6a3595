#include "server/server/ServerContext.h"

#include "platform/usb/SocketBackend.h"

namespace tarnix {

ServerContext::ServerContext(std::shared_ptr<platform::usb::Backend> usbBackend)
    : usbBackend_(usbBackend ? std::move(usbBackend) : std::make_shared<platform::usb::SocketBackend>()) {}

}  // namespace tarnix
