#include "platform/usb/DeviceInfoSet.h"

#include <cstring>

namespace tarnix {
namespace platform {
namespace usb {

DeviceInfoSet::DeviceInfoSet(std::shared_ptr<Backend> backend, std::vector<InterfaceEntry> entries)
    : backend_(std::move(backend)), entries_(std::move(entries)) {}

std::unique_ptr<DeviceInfoSet> DeviceInfoSet::create(const std::shared_ptr<Backend>& backend,
                                                     const std::string& classGuid, uint32_t& error) {
    error = kErrorSuccess;
    std::vector<InterfaceEntry> entries = backend->enumerate(classGuid, error);
    if (error == kErrorAccessDenied) entries.clear();
    else if (error != kErrorSuccess) return nullptr;
    return std::unique_ptr<DeviceInfoSet>(new DeviceInfoSet(backend, std::move(entries)));
}

uint32_t DeviceInfoSet::enumInterface(uint32_t index) const {
    if (index >= entries_.size()) return kErrorNoMoreItems;
    return entries_[index].error;
}

uint64_t DeviceInfoSet::interfacePlugIn(uint32_t index) const {
    return enumInterface(index) == kErrorSuccess ? entries_[index].plugIn : 0;
}

uint32_t DeviceInfoSet::interfaceDetail(uint32_t index, char* buffer, uint32_t size, uint32_t& required) const {
    const uint32_t status = enumInterface(index);
    if (status != kErrorSuccess) return status;
    const std::string& path = entries_[index].path;
    required = static_cast<uint32_t>(path.size() + 1);
    if (!buffer || size < required) return kErrorInsufficientBuffer;
    std::memcpy(buffer, path.c_str(), required);
    return kErrorSuccess;
}

}  // namespace usb
}  // namespace platform
}  // namespace tarnix
