#include "engine/FeatureBootstrap.h"

namespace tarnix {

// Discovery of the instrument's feature list is not wired yet: until it is, a
// device keeps the nodes every instrument has and builds no feature groups.
void DeviceStateBootstrapPoll(DeviceAccess&) {}

QV_STATUS DeviceStateBootstrapAperture(DeviceAccess&, uint32_t, uint32_t, const uint8_t*) { return QV_NO_ERROR; }

}  // namespace tarnix
