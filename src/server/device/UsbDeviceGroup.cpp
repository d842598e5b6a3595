#include "server/device/DeviceGroup.h"

#include "groups/FeatureInitMapBuild.h"
#include "link/DeviceGroupEncFX2.h"

namespace tarnix {

std::shared_ptr<DeviceGroup> createUsbDeviceGroup(exception::ExceptionCarrier& childCarrier) {
    // The instruments' groups are those of the LQ3 family.
    return std::make_shared<DeviceGroupEncFX2>(childCarrier, FeatureInitMap());
}

}  // namespace tarnix
