#include "link/DeviceGroup.h"

#include "link/DeviceGroupEncFX2.h"

namespace tarnix {

std::shared_ptr<DeviceGroup> createUsbDeviceGroup(exception::ExceptionCarrier& childCarrier, TreeRegistry& registry,
                                                   std::shared_ptr<platform::usb::Backend> backend,
                                                   const FeatureInitMapTable& featureInitMap) {
    return std::make_shared<DeviceGroupEncFX2>(childCarrier, registry, std::move(backend), featureInitMap);
}

}  // namespace tarnix
