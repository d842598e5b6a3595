#pragma once
#include "engine/FeatureInitMapTable.h"

#include <memory>
#include <vector>

namespace tarnix {

class QVBase;
class TreeRegistry;
namespace platform {
namespace usb {
class Backend;
}
}  // namespace platform

namespace exception {
class ExceptionCarrier;
}

// A source of instruments of one kind. The server asks each of its groups
// once per second (and when a client asks for a device update) for new
// devices and starts the components it gets.
class DeviceGroup {
public:
    virtual ~DeviceGroup() = default;

    // Drops ended devices, looks for new instruments and appends the device
    // components created in this call to newDevices; the caller starts them.
    // Serialises itself: calls may come from several threads at once.
    virtual void update(std::vector<std::shared_ptr<QVBase>>& newDevices) = 0;
    // Drops the device components that have left the server.
    virtual void removeEnded() = 0;
    // Always program the FPGA, for the devices held and those made later.
    virtual void setProgAlways(bool progAlways) = 0;
};

// The group of USB instruments the server runs with: their trees go into
// `registry`, they are found and opened through `backend`, and their device
// objects build their node groups from `featureInitMap`.
std::shared_ptr<DeviceGroup> createUsbDeviceGroup(exception::ExceptionCarrier& childCarrier, TreeRegistry& registry,
                                                   std::shared_ptr<platform::usb::Backend> backend,
                                                   const FeatureInitMapTable& featureInitMap);

}  // namespace tarnix
