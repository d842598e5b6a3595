#pragma once
#include "platform/usb/UsbBackend.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace tarnix {
namespace platform {
namespace usb {

// A snapshot of the present device interfaces of one class, taken when the set
// is created, walked by index like a setup-API device information set.
class DeviceInfoSet {
public:
    // Null when the enumeration could not be made; `error` then tells why
    // (kErrorTooManyOpenFiles: the process had no descriptor left to look). A
    // place of instruments that cannot be read gives an empty set, with
    // `error` kErrorAccessDenied.
    static std::unique_ptr<DeviceInfoSet> create(const std::shared_ptr<Backend>& backend,
                                                 const std::string& classGuid, uint32_t& error);

    // kErrorSuccess when interface `index` exists, kErrorNoMoreItems past the
    // end, or the error that this step of the enumeration reported.
    uint32_t enumInterface(uint32_t index) const;

    // The device path of interface `index` as a zero-terminated string. With no
    // buffer, or one too small, it fails with kErrorInsufficientBuffer and sets
    // `required` (terminator included).
    uint32_t interfaceDetail(uint32_t index, char* buffer, uint32_t size, uint32_t& required) const;
    // What tells this plug-in of interface `index` from the next at its path
    // (InterfaceEntry::plugIn); 0 for an index without an interface.
    uint64_t interfacePlugIn(uint32_t index) const;

    // The back-end that opens the enumerated paths.
    const std::shared_ptr<Backend>& backend() const { return backend_; }

private:
    DeviceInfoSet(std::shared_ptr<Backend> backend, std::vector<InterfaceEntry> entries);

    std::shared_ptr<Backend> backend_;
    std::vector<InterfaceEntry> entries_;
};

}  // namespace usb
}  // namespace platform
}  // namespace tarnix
