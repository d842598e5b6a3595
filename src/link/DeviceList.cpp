#include "link/DeviceList.h"

#include "platform/endian/ByteOrder.h"
#include "core/Logging.h"
#include "link/IOExceptions.h"
#include "link/IOLQ3_USBImpl.h"
#include "link/Interface.h"
#include "link/UsbDriverInterface.h"

#include <algorithm>
#include <iterator>

namespace tarnix {
namespace detail {

namespace usb = platform::usb;

namespace {

constexpr uint8_t kIdentityRegister = 32;  // serial number, then product number
constexpr uint8_t kHardwareRegister = 40;
constexpr uint32_t kBytesPerRegisterRead = 4;

constexpr const char* kAdviceNew = "Please disconnect the USB cable or powercycle the device ";
constexpr const char* kAdviceKnown = "It will be restarted during the next update if possible ";

void describeAll(const DeviceIdMap& list) {
    for (const auto& entry : list) entry.second->describe();
}

}  // namespace

DeviceIdMap getDeviceList(Interface& usbInterface) {
    HardwareDeviceInfo& info = usbInterface.deviceInfo();
    if (!info.recreate()) QV_THROW(QVIOInternalException());
    return listOfSnapshot(info);
}

DeviceIdMap listOfSnapshot(const HardwareDeviceInfo& info) {
    if (!info.set()) QV_THROW(QVIOInternalException());
    const usb::DeviceInfoSet& set = *info.set();
    DeviceIdMap found;
    for (uint32_t index = 0; index < Interface::kMaxEnumerationIndex; ++index) {
        const uint32_t error = set.enumInterface(index);
        if (error == usb::kErrorSuccess) {
            const std::string path = DeviceInterfaceDetail(set, index).devicePath();
            found[path] = std::make_shared<DeviceID_USB>(path, set.interfacePlugIn(index));
        } else if (error == usb::kErrorNoMoreItems) {
            return found;
        } else {
            QVLOG(logging::error) << "Could not enumerate a device " << index + 1
                                  << " with correct GUID. This might be the result of a device disconnect or a "
                                     "device problem. "
                                  << "Please report this problem if the issue persists.";
        }
    }
    QV_THROW(QVIOInternalException("Serious error during device enumeration."));
}

DeviceList_USB::DeviceList_USB(std::shared_ptr<platform::usb::Backend> backend)
    : interface_(std::make_unique<Interface>(std::move(backend))) {}

DeviceList_USB::~DeviceList_USB() = default;

std::shared_ptr<DeviceID> DeviceList_USB::at(std::size_t index) const {
    if (index >= list_.size()) return nullptr;
    return std::next(list_.begin(), static_cast<std::ptrdiff_t>(index))->second;
}

void DeviceList_USB::update() {
    HardwareDeviceInfo& info = interface_->deviceInfo();
    // Without a descriptor to look with, nothing is known: the list, and with
    // it the instruments in use and the refused ones, stays as it is.
    if (!info.recreate() && info.outOfDescriptors()) {
        noteDescriptorShortage(true);
        return;
    }
    DeviceIdMap fresh = listOfSnapshot(info);
    noteReadability();
    for (auto entry = fresh.begin(); entry != fresh.end();) {
        Probe result = Probe::Usable;
        const auto known = list_.find(entry->first);
        // At a path still listed, another instrument may have been plugged in
        // since the last look.
        if (known == list_.end() || known->second->plugIn() != entry->second->plugIn()) {
            QVLOG(logging::debug) << "Device was just plugged in.";
            result = probe(*entry->second, kAdviceNew);
        } else if (known->second.use_count() != 1) {
            // In use by a device object: not touched.
            entry->second = known->second;
        } else {
            QVLOG(logging::debug) << "Device was removed or never used." << known->second.use_count();
            result = probe(*entry->second, kAdviceKnown);
        }
        if (result == Probe::NoDescriptor) {
            noteDescriptorShortage(true);
            return;
        }
        entry = result == Probe::Usable ? std::next(entry) : fresh.erase(entry);
    }
    noteDescriptorShortage(false);
    if (fresh.size() != list_.size()) {
        QVLOG(logging::debug) << "Device list change ...";
        describeAll(list_);
        QVLOG(logging::debug) << "... updated to ...";
        describeAll(fresh);
    }
    list_.swap(fresh);
}

std::string DeviceList_USB::folderForLog() const {
    const HardwareDeviceInfo& info = interface_->deviceInfo();
    std::string folder = info.backend() ? info.backend()->location() : std::string();
    if (!folder.empty()) folder.insert(0, " ");
    return folder;
}

void DeviceList_USB::noteReadability() {
    const HardwareDeviceInfo& info = interface_->deviceInfo();
    if (info.unreadable() == unreadable_) return;
    unreadable_ = info.unreadable();
    const std::string folder = folderForLog();
    if (unreadable_) {
        QVLOG(logging::warning) << "Cannot read the instrument folder" << folder
                                << "; no instrument is found there until it can be read.";
    } else {
        QVLOG(logging::info) << "The instrument folder" << folder << " can be read again.";
    }
}

void DeviceList_USB::noteDescriptorShortage(bool shortage) {
    if (shortage == outOfDescriptors_) return;
    outOfDescriptors_ = shortage;
    const std::string folder = folderForLog();
    if (shortage) {
        QVLOG(logging::warning) << "The server has no file descriptor left to look at the instrument folder" << folder
                                << "; the instruments stay as they are until it has.";
    } else {
        QVLOG(logging::info) << "The server looks at the instrument folder" << folder << " again.";
    }
}

DeviceList_USB::Probe DeviceList_USB::probe(DeviceID_USB& id, const char* advice) {
    try {
        interface_->openDevice(id);
    } catch (const QVIOOutOfDescriptorsException&) {
        return Probe::NoDescriptor;
    } catch (const QVIOException& e) {
        // Also the time-out requests of the open: one instrument that does not
        // answer must not keep the others from being listed.
        if (logThisFailure()) {
            QVLOG(logging::error) << "Could not open the device " << "(Error repetition " << errorRepetition_
                                  << "). " << e.what();
        }
        ++errorRepetition_;
        return Probe::Failed;
    }
    try {
        readIdentity(id);
    } catch (const QVIOException& e) {
        if (logThisFailure()) {
            QVLOG(logging::error) << "Could not access control pipe of the device. The device will be disabled. "
                                  << advice << "(Error repetition " << errorRepetition_ << "). " << e.what();
        }
        ++errorRepetition_;
        return Probe::Failed;
    }
    return Probe::Usable;
}

void DeviceList_USB::readIdentity(DeviceID_USB& id) {
    const impl::Version version = getVersions();
    std::vector<uint8_t> identity(8);
    readRegister(kIdentityRegister, identity);
    std::vector<uint8_t> hardware(kBytesPerRegisterRead);
    readRegister(kHardwareRegister, hardware);
    id.setNumbers(le::get32(&identity[4]), le::get32(&identity[0]));
    std::array<uint8_t, 8> versionBytes{{uint8_t(version.firmwareMajor), uint8_t(version.firmwareMinor),
                                         uint8_t(version.picMajor), uint8_t(version.picMinor)}};
    std::copy(hardware.begin(), hardware.end(), versionBytes.begin() + 4);
    id.setVersionBytes(versionBytes);
}

impl::Version DeviceList_USB::getVersions() {
    IoctlAnswer answer{};
    interface_->transferIOCTL(IOCTL<usb::kFnGetVersions, 0>(), answer);
    if (answer[kIoctlStatusByte] != 0) QV_THROW(QVIOInternalException("The IOCTL for reading the version failed."));
    impl::Version version;
    version.picMajor = answer[2];
    version.picMinor = answer[3];
    version.firmwareMajor = answer[4];
    version.firmwareMinor = answer[5];
    version.build = uint16_t((answer[6] << 8) | answer[7]);
    return version;
}

void DeviceList_USB::readRegister(uint8_t reg, std::vector<uint8_t>& bytes) {
    for (std::size_t position = 0; position < bytes.size(); position += kBytesPerRegisterRead) {
        const auto count = static_cast<uint8_t>(std::min<std::size_t>(bytes.size() - position, kBytesPerRegisterRead));
        IOCTL<usb::kFnReadRegister, 2> request;
        request.input = {count, uint8_t(reg + position)};
        IoctlAnswer answer{};
        interface_->transferIOCTL(request, answer);
        if (answer[kIoctlStatusByte] != 0)
            QV_THROW(QVIOInternalException("The IOCTL for reading device registers failed."));
        std::copy_n(answer.begin() + 4, count, bytes.begin() + static_cast<std::ptrdiff_t>(position));
    }
}

}  // namespace detail

namespace impl {

std::shared_ptr<DeviceListImpl> DeviceListImpl::create(std::shared_ptr<platform::usb::Backend> backend) {
    return std::shared_ptr<DeviceListImpl>(new DeviceListImpl(std::move(backend)));
}

DeviceListImpl::~DeviceListImpl() = default;

uint32_t DeviceListImpl::count() const { return static_cast<uint32_t>(usb_.size()); }

std::shared_ptr<DeviceID> DeviceListImpl::getId(uint32_t index) const {
    std::shared_ptr<DeviceID> id = usb_.at(index);
    if (!id) QV_THROW(QVIOException("Index out of range."));
    return id;
}

}  // namespace impl
}  // namespace tarnix
