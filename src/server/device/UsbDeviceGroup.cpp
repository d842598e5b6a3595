#include "server/device/DeviceGroup.h"

#include <atomic>

namespace tarnix {
namespace {

// Stands in for the USB device group until the instrument connection is
// part of the server: it finds no instruments.
class EmptyDeviceGroup : public DeviceGroup {
public:
    void update(std::vector<std::shared_ptr<QVBase>>&) override {}
    void removeEnded() override {}
    void setProgAlways(bool progAlways) override { progAlways_ = progAlways; }

private:
    std::atomic<bool> progAlways_{false};
};

}  // namespace

std::shared_ptr<DeviceGroup> createUsbDeviceGroup(exception::ExceptionCarrier&) {
    return std::make_shared<EmptyDeviceGroup>();
}

}  // namespace tarnix
