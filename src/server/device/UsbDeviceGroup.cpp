#include "server/device/DeviceGroup.h"

#include "link/DeviceGroupEncFX2.h"
#include "server/server/ServerContext.h"

namespace tarnix {

std::shared_ptr<DeviceGroup> createUsbDeviceGroup(exception::ExceptionCarrier& childCarrier, ServerContext& context) {
    return std::make_shared<DeviceGroupEncFX2>(childCarrier, context.treeRegistry(), context.usbBackend());
}

}  // namespace tarnix
