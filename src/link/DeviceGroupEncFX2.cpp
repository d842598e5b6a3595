#include "link/DeviceGroupEncFX2.h"

#include "core/Logging.h"
#include "core/QVException.h"
#include "link/DeviceEncFX2.h"
#include "link/DeviceEncFX2Impl.h"
#include "link/DeviceList.h"
#include "link/IOExceptions.h"
#include "platform/usb/UsbBackend.h"

#include <mutex>
#include <shared_mutex>
#include <thread>

namespace tarnix {

namespace {

// How long an update waits for the device objects it pulled out to end, so
// that the next update drops them (and their trees) and finds an instrument
// plugged in at their place.
constexpr auto kPullOutWait = std::chrono::milliseconds(500);

using ExclusiveLock = UniqueLock<SharedMutex>;

// The device path and the plug-in of an identity of the USB device list.
std::pair<std::string, uint64_t> plugInOf(const DeviceID& id) {
    const auto* usb = dynamic_cast<const detail::DeviceID_USB*>(&id);
    return usb ? std::make_pair(usb->devicePath(), usb->plugIn()) : std::make_pair(std::string(), uint64_t(0));
}

}  // namespace

DeviceGroupEncFX2::DeviceGroupEncFX2(exception::ExceptionCarrier& childCarrier, TreeRegistry& registry,
                                     std::shared_ptr<platform::usb::Backend> backend,
                                     const FeatureInitMapTable& featureInitMap)
    : childCarrier_(&childCarrier),
      registry_(registry),
      backend_(backend),
      featureInitMap_(&featureInitMap),
      deviceList_(impl::DeviceListImpl::create(std::move(backend))) {}

DeviceGroupEncFX2::~DeviceGroupEncFX2() = default;

void DeviceGroupEncFX2::update(std::vector<std::shared_ptr<QVBase>>& newDevices) {
    ExclusiveLock lock(mutex_);
    dropEnded();
    deviceList_->usb().update();
    notePlugIns();
    pullOutGone();
    const uint32_t listed = deviceList_->count();
    if (listed == 0 || listed == devices_.size()) return;
    createMissing(newDevices);
}

void DeviceGroupEncFX2::createMissing(std::vector<std::shared_ptr<QVBase>>& newDevices) {
    uint32_t created = 0;
    for (uint32_t index = 0; index < deviceList_->count(); ++index) {
        const std::shared_ptr<DeviceID> id = deviceList_->getId(index);
        const uint32_t serial = id->serialNumber();
        if (devices_.count(serial)) continue;
        const std::string path = plugInOf(*id).first;
        const auto failed = failedStarts_.find(path);
        if (failed != failedStarts_.end() && failed->second.refused) continue;
        std::shared_ptr<DeviceEncFX2> device;
        // This instrument could not be opened; the others still are.
        try {
            device = std::make_shared<DeviceEncFX2>(*childCarrier_, registry_, id, backend_, *featureInitMap_);
        } catch (const QVIODriverVersionException& e) {
            noteFailedStart(id, true, e.what());
            continue;
        } catch (const std::exception& e) {
            noteFailedStart(id, false, e.what());
            continue;
        }
        failedStarts_.erase(path);
        device->setProgAlways(progAlways_ || reprogramCount_ > created);
        newDevices.push_back(device);
        devices_.emplace(serial, std::move(device));
        pluggedAt_[serial] = plugInOf(*id);
        ++created;
    }
    reprogramCount_ = reprogramCount_ > created ? reprogramCount_ - created : 0;
}

void DeviceGroupEncFX2::noteFailedStart(const std::shared_ptr<DeviceID>& id, bool refused, const char* what) {
    const std::pair<std::string, uint64_t> plugIn = plugInOf(*id);
    FailedStart& record = failedStarts_[plugIn.first];
    if (record.id && record.plugIn != plugIn.second) record = FailedStart();
    record.id = id;
    record.plugIn = plugIn.second;
    record.lastListed = Clock::now();
    const uint32_t failure = record.failures++;
    record.refused = refused;
    // A client asking for updates again and again must not fill the log.
    if (failure == 0) {
        logCurrentExceptionBanner();
        if (refused) {
            QVLOG(logging::error) << "The device with S/N " << id->serialNumber()
                                  << " is not used until it is plugged in again.";
        }
    } else if ((failure & 0xFF) == 0) {
        QVLOG(logging::error) << "The device with S/N " << id->serialNumber() << " could not be started again "
                              << "(Error repetition " << failure << "). " << what;
    }
}

void DeviceGroupEncFX2::notePlugIns() {
    if (failedStarts_.empty()) return;
    const Clock::time_point now = Clock::now();
    for (uint32_t index = 0; index < deviceList_->count(); ++index) {
        std::shared_ptr<DeviceID> id = deviceList_->getId(index);
        const std::pair<std::string, uint64_t> plugIn = plugInOf(*id);
        const auto record = failedStarts_.find(plugIn.first);
        if (record == failedStarts_.end()) continue;
        if (record->second.plugIn != plugIn.second) {
            failedStarts_.erase(record);  // another instrument at the path: tried afresh
            continue;
        }
        record->second.id = std::move(id);
        record->second.lastListed = now;
    }
    for (auto entry = failedStarts_.begin(); entry != failedStarts_.end();) {
        const bool gone = now - entry->second.lastListed > kForgetFailedStartAfter;
        entry = gone ? failedStarts_.erase(entry) : std::next(entry);
    }
}

void DeviceGroupEncFX2::pullOutGone() {
    std::vector<std::shared_ptr<DeviceEncFX2>> pulled;
    for (const auto& entry : devices_) {
        impl::DeviceEncFX2Impl& device = entry.second->impl();
        const auto at = pluggedAt_.find(entry.first);
        if (device.pulledOut() || at == pluggedAt_.end() || at->second.first.empty() ||
            backend_->stillPlugged(at->second.first, at->second.second))
            continue;
        QVLOG(logging::warning) << "The device with S/N " << entry.first << " was pulled out: "
                                << at->second.first << " is gone.";
        device.pullOut();
        pulled.push_back(entry.second);
    }
    const Clock::time_point until = Clock::now() + kPullOutWait;
    for (const std::shared_ptr<DeviceEncFX2>& device : pulled) {
        while (!device->isFinished() && Clock::now() < until) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

void DeviceGroupEncFX2::removeEnded() {
    ExclusiveLock lock(mutex_);
    dropEnded();
}

void DeviceGroupEncFX2::dropEnded() {
    // Held only here: its thread has ended and the server has let it go.
    const auto ended = [](const DeviceMap::value_type& entry) { return entry.second.use_count() == 1; };
    bool any = false;
    for (const auto& entry : devices_) any = any || ended(entry);
    if (!any) return;
    DeviceMap kept;
    for (auto& entry : devices_) {
        if (!ended(entry)) {
            kept.emplace(entry.first, entry.second);
        } else if (entry.second->impl().needProgram()) {
            ++reprogramCount_;
        }
    }
    // Destroying the old map closes the dropped devices here, before the list
    // probes their instruments again.
    devices_.swap(kept);
    for (auto at = pluggedAt_.begin(); at != pluggedAt_.end();)
        at = devices_.count(at->first) ? std::next(at) : pluggedAt_.erase(at);
}

void DeviceGroupEncFX2::setProgAlways(bool progAlways) {
    ExclusiveLock lock(mutex_);
    progAlways_ = progAlways;
    for (const auto& entry : devices_) entry.second->setProgAlways(progAlways);
}

std::size_t DeviceGroupEncFX2::deviceCount() const {
    SharedLock<SharedMutex> lock(mutex_);
    return devices_.size();
}

uint32_t DeviceGroupEncFX2::reprogramCount() const {
    SharedLock<SharedMutex> lock(mutex_);
    return reprogramCount_;
}

std::shared_ptr<DeviceEncFX2> DeviceGroupEncFX2::device(uint32_t serial) const {
    SharedLock<SharedMutex> lock(mutex_);
    const auto found = devices_.find(serial);
    return found == devices_.end() ? nullptr : found->second;
}

}  // namespace tarnix
