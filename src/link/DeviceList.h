#pragma once
#include "link/DeviceID.h"

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace tarnix {

namespace platform {
namespace usb {
class Backend;
}
}  // namespace platform

namespace impl {
struct Version;
}

namespace detail {

class Interface;
class HardwareDeviceInfo;

// Identities by device path, in path order.
using DeviceIdMap = std::map<std::string, std::shared_ptr<DeviceID_USB>>;

// One enumeration of the instrument interfaces (fresh identities, numbers 0).
// Throws QVIOInternalException when no device information set can be made, or
// "Serious error during device enumeration." after 1000 indexes without end.
DeviceIdMap getDeviceList(Interface& usbInterface);
// The instruments of the interface's current snapshot (which must exist).
DeviceIdMap listOfSnapshot(const HardwareDeviceInfo& info);

// The instruments on the USB bus: one identity per device path, probed for
// serial number, product number and versions when it appears, and again when
// no device object uses it any more. Used only under the device group's lock.
class DeviceList_USB {
public:
    // Throws QVIOInternalException when the driver's device set cannot be made.
    explicit DeviceList_USB(std::shared_ptr<platform::usb::Backend> backend);
    ~DeviceList_USB();
    DeviceList_USB(const DeviceList_USB&) = delete;
    DeviceList_USB& operator=(const DeviceList_USB&) = delete;

    // Enumerates again: new and unused instruments are probed, those in use
    // are kept untouched, failed probes are left out until a later one works.
    // A place of instruments that cannot be read holds none; that is logged
    // once, and again once it can be read. A look that finds no descriptor
    // left changes nothing (also logged once).
    void update();

    std::size_t size() const { return list_.size(); }
    // The identity at a position in path order; null past the end.
    std::shared_ptr<DeviceID> at(std::size_t index) const;

    // Control requests through the list's own interface (the instrument last
    // opened by a probe).
    impl::Version getVersions();
    void readRegister(uint8_t reg, std::vector<uint8_t>& bytes);

    uint32_t errorRepetitions() const { return errorRepetition_; }

private:
    enum class Probe { Usable, Failed, NoDescriptor };
    Probe probe(DeviceID_USB& id, const char* advice);
    // Logs once when the process runs out of descriptors for a look at the
    // folder, and once when it has them again.
    void noteDescriptorShortage(bool shortage);
    void readIdentity(DeviceID_USB& id);
    bool logThisFailure() const { return (errorRepetition_ & 0xFF) == 0; }
    void noteReadability();
    // The instrument folder's location with a blank before it, or nothing.
    std::string folderForLog() const;

    std::unique_ptr<Interface> interface_;
    DeviceIdMap list_;
    uint32_t errorRepetition_ = 0;
    bool unreadable_ = false;
    bool outOfDescriptors_ = false;
};

}  // namespace detail

namespace impl {

// Every instrument the server can reach: the USB ones. Instruments of other
// families are not served, so they add nothing here.
class DeviceListImpl {
public:
    // Finds instruments through `backend`.
    static std::shared_ptr<DeviceListImpl> create(std::shared_ptr<platform::usb::Backend> backend);
    virtual ~DeviceListImpl();
    DeviceListImpl(const DeviceListImpl&) = delete;
    DeviceListImpl& operator=(const DeviceListImpl&) = delete;

    virtual uint32_t count() const;
    // Throws QVIOException "Index out of range." past count().
    std::shared_ptr<DeviceID> getId(uint32_t index) const;

    detail::DeviceList_USB& usb() { return usb_; }

private:
    explicit DeviceListImpl(std::shared_ptr<platform::usb::Backend> backend) : usb_(std::move(backend)) {}

    detail::DeviceList_USB usb_;
};

}  // namespace impl
}  // namespace tarnix
