#include "link/DeviceGroup.h"

#include "link/DeviceGroupEncFX2.h"

namespace tarnix {

std::shared_ptr<DeviceGroup> createUsbDeviceGroup(exception::ExceptionCarrier& childCarrier,
                                                   const FeatureInitMapTable& featureInitMap) {
    return std::make_shared<DeviceGroupEncFX2>(childCarrier, featureInitMap);
}

}  // namespace tarnix
