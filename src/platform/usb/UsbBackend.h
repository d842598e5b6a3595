#pragma once
#include "platform/usb/DeviceHandle.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace tarnix {
namespace platform {
namespace usb {

// One step of a device-interface enumeration: a device path, or the error that
// this step reported (the enumeration goes on after it).
struct InterfaceEntry {
    std::string path;
    uint32_t error = kErrorSuccess;
    // Tells one plug-in at the path from the next: it differs once the
    // instrument was pulled out and plugged in again (0: not known).
    uint64_t plugIn = 0;
};

// Where instruments come from: the sockets of simulated instruments, or a
// scripted fake in tests. The server owns one (ServerContext) and hands it to
// the parts that enumerate and open instruments.
class Backend {
public:
    Backend() = default;
    Backend(const Backend&) = delete;
    Backend& operator=(const Backend&) = delete;
    virtual ~Backend() = default;

    // The present device interfaces of a class, in path order. Sets `error`
    // (and returns nothing) when the enumeration cannot be made at all;
    // kErrorAccessDenied says that the place where instruments appear cannot
    // be read (for now), which holds no instruments until it can.
    virtual std::vector<InterfaceEntry> enumerate(const std::string& classGuid, uint32_t& error) = 0;
    // Opens a device path; null when it cannot be opened.
    virtual std::shared_ptr<DeviceHandle> open(const std::string& path) = 0;
    // Waits at most `timeout` for a sign that instruments came or went; true
    // when there was one. Without such signs it waits out the time. The wait
    // also ends, with false, when `wakeFd` (if not -1) becomes readable.
    virtual bool waitForChange(std::chrono::milliseconds timeout, int wakeFd = -1);
    // Whether the instrument enumerated at `path` with `plugIn` is still
    // plugged in there: false once its entry has gone or another plug-in took
    // its place. An instrument that merely does not answer is still plugged
    // in. Without a way to tell: true.
    virtual bool stillPlugged(const std::string& path, uint64_t plugIn);
    // Where instruments are looked for, for log lines (empty when it has no name).
    virtual std::string location() const { return std::string(); }
};

}  // namespace usb
}  // namespace platform
}  // namespace tarnix
