#pragma once
#include "engine/FeatureInitMapTable.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <memory>

namespace tarnix {

class QVFifo;
class RequestGate;
class TreeRegistry;
struct DeviceState;

// Clock of the device state engine. Intervals (LED ticks, re-requests, command
// time-outs) are measured on a steady clock, immune to wall-clock changes.
using EngineClock = std::chrono::steady_clock;
using EngineTime = EngineClock::time_point;

// What the device state engine needs of its device object: the instrument's
// write queue (host-to-device write messages and read requests), the flush of
// that queue, the FIFOs of the device's tree, its identity, a clock and the
// table of feature groups that its feature list is built with. The device
// object of the instrument connection implements it; tests use a fake.
//
// The engine runs only on the device thread; so do all of these calls.
class DeviceAccess {
public:
    // `featureInitMap` outlives the device object; the program's set-up hands it
    // down (the node groups build it).
    explicit DeviceAccess(const FeatureInitMapTable& featureInitMap);
    DeviceAccess(const DeviceAccess&) = delete;
    DeviceAccess& operator=(const DeviceAccess&) = delete;
    virtual ~DeviceAccess();

    // Opens a write message of `length` payload bytes at `address`; the payload
    // follows through queueWriteData calls that supply exactly that many bytes.
    virtual void queueWriteBegin(uint32_t address, uint32_t length) = 0;
    virtual void queueWriteData(const uint8_t* data, uint32_t length) = 0;
    // Queues a read request of `length` bytes at `address`; the answer comes back
    // as device data through DeviceStateHandleData.
    virtual void queueRequestData(uint32_t address, uint32_t length) = 0;
    // Sends whatever the write queue holds.
    virtual void flush() = 0;

    // Replies and value changes of the device's tree, read by the dispatcher.
    virtual std::shared_ptr<QVFifo> outputFifo() = 0;
    // Client requests for the device's tree, read by the device loop.
    virtual std::shared_ptr<QVFifo> requestFifo() = 0;
    // The door of that FIFO (optional): wakes the device loop on every client
    // request and bounds each session's share of the FIFO.
    virtual std::shared_ptr<RequestGate> requestGate() { return nullptr; }

    // The registry (of the serving server) the device's tree belongs to.
    virtual TreeRegistry& treeRegistry() = 0;

    virtual uint32_t serial() const = 0;
    virtual EngineTime now() const = 0;

    // The instrument's start-up has finished (its tree has been announced).
    virtual void setInitialized() = 0;
    // The running FPGA design is not the embedded one; the device is rebuilt
    // with programming forced once its thread has ended.
    virtual void setNeedProgram() = 0;
    // Whether this device object configured the instrument's FPGA itself,
    // rather than finding a design running.
    virtual bool bitstreamProgrammed() const { return false; }
    // The MD5 digest of the FPGA configuration built into the server; false
    // when there is none or its bytes do not match the digest.
    virtual bool embeddedBitstreamDigest(std::array<uint8_t, 16>& digest) const {
        (void)digest;
        return false;
    }

    // The table of feature groups that the device's groups are built from.
    const FeatureInitMapTable& featureInitMap() const { return *featureInitMap_; }

    // The device state engine's record, owned by the device object.
    DeviceState* deviceState() const { return state_.get(); }
    std::unique_ptr<DeviceState>& deviceStateSlot() { return state_; }

private:
    const FeatureInitMapTable* featureInitMap_;
    std::unique_ptr<DeviceState> state_;
};

// One complete register write: the write message header and its payload.
void queueRegisterWrite(DeviceAccess& device, uint32_t address, const uint8_t* data, uint32_t length);
// The device's output FIFO; throws QVException when the device has none.
QVFifo& outputOf(DeviceAccess& device);

// A 4-byte register write of a little-endian word.
void queueRegisterWord(DeviceAccess& device, uint32_t address, uint32_t word);

}  // namespace tarnix
