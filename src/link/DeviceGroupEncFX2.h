#pragma once
#include "engine/FeatureInitMapTable.h"
#include "link/DeviceGroup.h"
#include "platform/thread/Mutex.h"

#include <shared_mutex>

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace tarnix {

class DeviceEncFX2;
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
class DeviceListImpl;
}

// The USB instruments: one device object per serial number. Each update drops
// the device objects that have left the server, refreshes the device list and
// makes a device object for every serial number not held yet. Device objects
// whose running design was found stale are made again with the FPGA
// programming forced.
//
// An instrument whose device object cannot be made is logged once while it
// stays plugged in: one with a driver the server refuses is not tried again
// until it is plugged in anew, any other is tried again at every update,
// quietly but for every 256th failure.
//
// An instrument whose place on the bus is gone (its socket left the instrument
// folder) is pulled out even while its connection stands: its device object
// ends as when the connection breaks, and an instrument plugged in at that
// place afterwards is a new one.
class DeviceGroupEncFX2 : public DeviceGroup {
public:
    // Throws QVIOInternalException when the driver's device set cannot be made.
    // The devices put their trees into `registry`, which outlives the group;
    // instruments are found and opened through `backend`; every device object
    // gets `featureInitMap`, which outlives the group.
    DeviceGroupEncFX2(exception::ExceptionCarrier& childCarrier, TreeRegistry& registry,
                      std::shared_ptr<platform::usb::Backend> backend, const FeatureInitMapTable& featureInitMap);
    ~DeviceGroupEncFX2() override;

    void update(std::vector<std::shared_ptr<QVBase>>& newDevices) override;
    void removeEnded() override;
    void setProgAlways(bool progAlways) override;

    // For the class log and tests.
    std::size_t deviceCount() const;
    uint32_t reprogramCount() const;
    std::shared_ptr<DeviceEncFX2> device(uint32_t serial) const;
    impl::DeviceListImpl& deviceList() { return *deviceList_; }

private:
    using DeviceMap = std::map<uint32_t, std::shared_ptr<DeviceEncFX2>>;
    using Clock = std::chrono::steady_clock;
    // An instrument whose device object could not be made: which plug-in at
    // its path, and how. The group holds the plug-in's identity, so that the
    // device list keeps it as one in use rather than probing it anew at every
    // update. The record goes when another plug-in appears at the path, or
    // once the path has not been listed for kForgetFailedStartAfter: an
    // instrument that was not listed for a moment (one that was slow to take
    // the enumeration's connection) is still the same plug-in.
    struct FailedStart {
        std::shared_ptr<DeviceID> id;
        uint64_t plugIn = 0;
        uint32_t failures = 0;
        bool refused = false;  // not tried again while plugged in
        Clock::time_point lastListed;
    };
    static constexpr std::chrono::seconds kForgetFailedStartAfter{10};

    // All below run with mutex_ held exclusively.
    void dropEnded() QV_REQUIRES(mutex_);
    void createMissing(std::vector<std::shared_ptr<QVBase>>& newDevices) QV_REQUIRES(mutex_);
    // Called in the handler of a failure to make the device object of `id`.
    void noteFailedStart(const std::shared_ptr<DeviceID>& id, bool refused, const char* what) QV_REQUIRES(mutex_);
    // Brings the records of failed starts up to date with the device list.
    void notePlugIns() QV_REQUIRES(mutex_);
    // Ends the device objects whose instruments are no longer plugged in
    // where they were found, and waits a little for them to end.
    void pullOutGone() QV_REQUIRES(mutex_);

    exception::ExceptionCarrier* childCarrier_;
    TreeRegistry& registry_;
    std::shared_ptr<platform::usb::Backend> backend_;
    const FeatureInitMapTable* featureInitMap_;
    DeviceMap devices_ QV_GUARDED_BY(mutex_);
    // Where each device object's instrument was plugged in: path and plug-in.
    std::map<uint32_t, std::pair<std::string, uint64_t>> pluggedAt_ QV_GUARDED_BY(mutex_);
    std::map<std::string, FailedStart> failedStarts_ QV_GUARDED_BY(mutex_);  // by device path
    bool progAlways_ QV_GUARDED_BY(mutex_) = false;
    uint32_t reprogramCount_ QV_GUARDED_BY(mutex_) = 0;
    mutable SharedMutex mutex_;
    std::shared_ptr<impl::DeviceListImpl> deviceList_;
};

}  // namespace tarnix
