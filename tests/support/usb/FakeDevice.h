#pragma once
#include "platform/usb/DeviceHandle.h"
#include "platform/usb/UsbBackend.h"

#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <vector>

namespace tarnix {
namespace platform {
namespace usb {

// A scripted instrument for tests of the transport's error paths. Every control
// request, read and write is recorded; its outcome comes from a script (per
// control function, and one for reads and one for writes), else from a default.
class FakeDevice : public DeviceHandle {
public:
    enum class Completion {
        immediate,  // completes inside the call
        pending,    // reports kErrorIoPending but is already complete when the call returns
        never,      // stays running until cancelIo or completeRunning
    };
    struct Reply {
        uint32_t error = kErrorSuccess;
        Completion completion = Completion::immediate;
        std::vector<uint8_t> data;  // answer bytes of a request, bytes delivered by a read
    };
    struct ControlCall {
        uint32_t function;
        std::vector<uint8_t> input;
    };
    using ControlHandler = std::function<Reply(uint32_t function, const std::vector<uint8_t>& input)>;

    FakeDevice();

    // Scripts: consumed in order; when empty the defaults apply. A control
    // request answers with 8 zero bytes (success) unless a handler is set; a read
    // ends pending with kErrorSemaphoreTimeout and no bytes; a write completes at
    // once with all its bytes.
    void pushControl(uint32_t function, Reply reply);
    void setControlHandler(ControlHandler handler);
    void pushRead(Reply reply);
    void setReadDefault(Reply reply);
    void pushWrite(Reply reply);

    std::vector<ControlCall> controlCalls() const;
    std::vector<ControlCall> controlCalls(uint32_t function) const;
    std::vector<uint32_t> readSizes() const;
    std::vector<std::vector<uint8_t>> writes() const;
    // The bytes of every write that succeeded, in order.
    std::vector<uint8_t> written() const;
    std::size_t cancelCount() const;
    std::size_t runningCount() const;
    void clearRecords();
    // Completes the oldest running operation; false when none runs.
    bool completeRunning(uint32_t error, uint32_t bytes);

    IoResult deviceIoControl(uint32_t code, const uint8_t* input, uint32_t inputLength, uint8_t* output,
                             uint32_t outputLength, const std::shared_ptr<Overlapped>& overlapped) override;
    IoResult readFile(uint8_t* data, uint32_t length, const std::shared_ptr<Overlapped>& overlapped) override;
    IoResult writeFile(const uint8_t* data, uint32_t length,
                       const std::shared_ptr<Overlapped>& overlapped) override;
    uint32_t cancelIo() override;

private:
    IoResult finish(const Reply& reply, uint32_t bytes, const std::shared_ptr<Overlapped>& overlapped);

    mutable std::mutex mutex_;
    std::map<uint32_t, std::deque<Reply>> controlScript_;
    ControlHandler controlHandler_;
    std::deque<Reply> readScript_;
    Reply readDefault_;
    std::deque<Reply> writeScript_;
    std::vector<ControlCall> controlCalls_;
    std::vector<uint32_t> readSizes_;
    std::vector<std::vector<uint8_t>> writes_;
    std::vector<uint8_t> written_;
    std::size_t cancels_ = 0;
    std::deque<std::shared_ptr<Overlapped>> running_;
};

// A scripted bus: devices by path, in the order added, and enumeration errors.
class FakeBackend : public Backend {
public:
    // A null device is listed but cannot be opened.
    void add(const std::string& path, std::shared_ptr<FakeDevice> device);
    void remove(const std::string& path);
    // Leaves the path out of enumerations while it stays the same plug-in
    // (an instrument that does not answer for a moment).
    void setHidden(const std::string& path, bool hidden);
    // One enumeration step that reports `error`, after the devices added so far.
    void addEnumerationError(uint32_t error);
    // Makes every enumeration fail with `error` (0: works again).
    void setEnumerationFailure(uint32_t error);

    std::vector<InterfaceEntry> enumerate(const std::string& classGuid, uint32_t& error) override;
    std::shared_ptr<DeviceHandle> open(const std::string& path) override;

private:
    struct Slot {
        InterfaceEntry entry;
        std::shared_ptr<FakeDevice> device;
        bool hidden = false;
    };
    std::mutex mutex_;
    std::vector<Slot> slots_;
    uint64_t plugIns_ = 0;
    uint32_t failure_ = kErrorSuccess;
};

}  // namespace usb
}  // namespace platform
}  // namespace tarnix
