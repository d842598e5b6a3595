#pragma once
#include "core/component/QVBase.h"
#include "engine/FeatureInitMapTable.h"

#include <memory>

namespace tarnix {

class DeviceID;
class TreeRegistry;
namespace platform {
namespace usb {
class Backend;
}
}  // namespace platform

namespace exception {
class ExceptionCarrier;
}
namespace impl {
class DeviceEncFX2Impl;
}

// The active component that serves one USB instrument (component name
// "DeviceEncFX2"). Made by the device group, started by the server; its thread
// ends by an exception or when the server stops.
class DeviceEncFX2 : public QVBase {
public:
    // Opens and resets the instrument; its failures leave the constructor.
    // Its tree goes into `registry`, which outlives the device; the
    // instrument is opened through `backend`; its groups are built from
    // `featureInitMap`, which outlives the object.
    DeviceEncFX2(exception::ExceptionCarrier& carrier, TreeRegistry& registry, const std::weak_ptr<DeviceID>& id,
                 std::shared_ptr<platform::usb::Backend> backend, const FeatureInitMapTable& featureInitMap);

    // Program the FPGA at start even when a design runs. Set before start.
    void setProgAlways(bool progAlways);

    impl::DeviceEncFX2Impl& impl() const;
};

}  // namespace tarnix
