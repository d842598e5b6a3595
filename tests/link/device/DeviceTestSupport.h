#pragma once
// Instruments on a scripted bus, log matching and tree lookups for the tests
// of the device object, the device list and the device group.
#include "FakeInstrument.h"
#include "MessageStream.h"
#include "core/LogCapture.h"
#include "core/tree/DispatcherTree.h"
#include "core/tree/TreeRegistry.h"
#include "support/usb/FakeDevice.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <list>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <vector>

namespace tarnix {
namespace testing {

// Scripted instruments plugged into one fake bus; `backend` is the USB
// back-end to hand to the device list, the group or a device.
class FakeBus {
public:
    FakeBus() : backend(std::make_shared<platform::usb::FakeBackend>()) {}

    FakeInstrument& plug(const std::string& path, uint32_t serial, uint32_t product = 7) {
        instruments_.emplace_back();
        FakeInstrument& instrument = instruments_.back();
        le::put32(&instrument.registers[32], serial);
        le::put32(&instrument.registers[36], product);
        instrument.id = std::make_shared<detail::DeviceID_USB>(path);
        backend->add(path, instrument.device);
        return instrument;
    }
    void unplug(const std::string& path) { backend->remove(path); }

    std::shared_ptr<platform::usb::FakeBackend> backend;

private:
    std::list<FakeInstrument> instruments_;
};

// A transfer of `count` device messages of 4 bytes at `address`, numbered on
// from `firstPacket`, ended by a 0 word.
inline std::vector<uint8_t> messageRun(uint32_t address, uint32_t count, uint16_t firstPacket = 1) {
    std::vector<uint8_t> transfer;
    for (uint32_t i = 0; i < count; ++i)
        append(transfer, deviceMessage(address, pattern(4, uint8_t(i)), uint16_t(firstPacket + i)));
    append(transfer, {0, 0});
    return transfer;
}

inline bool deviceTreeExists(TreeRegistry& registry, uint32_t serial) {
    SharedLock<SharedTimedMutex> lock(registry.treeSubscriptionMutex());
    return registry.dispatcherTreeMap().count(TreeId::device(serial)) != 0;
}

// Messages of the captured records that start with `prefix`, in order.
inline std::vector<std::string> messagesStartingWith(const test::LogCapture& log, const std::string& prefix) {
    std::vector<std::string> found;
    for (const std::string& message : log.messages())
        if (message.compare(0, prefix.size(), prefix) == 0) found.push_back(message);
    return found;
}

}  // namespace testing
}  // namespace tarnix
