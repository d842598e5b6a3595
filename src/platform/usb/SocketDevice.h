#pragma once
#include "platform/usb/DeviceHandle.h"
#include "platform/usb/WireProtocol.h"

#include <thread>

#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <vector>

namespace tarnix {
namespace platform {
namespace usb {

// An instrument reached over a connected Unix stream socket (the framed
// protocol of WireProtocol.h). Operations are sent at once from the caller's
// thread; a receiver thread completes them as the answers arrive and enforces
// the driver's time-outs by cancelling overdue transfers. The pipe time-outs are
// kept here, like a driver keeps them: request 0x809 sets the read time-out and
// 0x80A the write time-out (units of 100 ns, 0 for none).
//
// An instrument that does not answer a cancel within kCancelGraceMs has
// stopped (a hung process): the connection then counts as broken and every
// operation ends with kErrorDeviceNotConnected, as when the cable is pulled.
// The same holds at once for bytes that are not the instrument's answers (a
// stranger on the socket). The receiver never waits for the rest of a frame:
// it takes what has arrived and goes on keeping the time-outs.
class SocketDevice : public DeviceHandle {
public:
    // Takes ownership of the connected socket.
    explicit SocketDevice(int fd);
    ~SocketDevice() override;

    IoResult deviceIoControl(uint32_t code, const uint8_t* input, uint32_t inputLength, uint8_t* output,
                             uint32_t outputLength, const std::shared_ptr<Overlapped>& overlapped) override;
    IoResult readFile(uint8_t* data, uint32_t length, const std::shared_ptr<Overlapped>& overlapped) override;
    IoResult writeFile(const uint8_t* data, uint32_t length,
                       const std::shared_ptr<Overlapped>& overlapped) override;
    uint32_t cancelIo() override;

    // Time-out of control requests in the device.
    static constexpr uint32_t kControlTimeoutMs = 1000;
    // Time for the instrument to answer a cancel.
    static constexpr uint32_t kCancelGraceMs = 500;

private:
    using Clock = std::chrono::steady_clock;
    enum class Kind { control, in, out };
    struct Operation {
        Kind kind;
        std::shared_ptr<Overlapped> overlapped;
        uint8_t* destination;
        uint32_t capacity;
        bool hasDeadline;
        Clock::time_point deadline;
        bool cancelSent;
        bool timedOut;
        Clock::time_point cancelDeadline;  // while cancelSent: the answer is due by then
    };

    // The answer frame being received, as far as it has arrived: its header,
    // its leading words (the status, and for OUT answers the count accepted),
    // then its data, which goes to the operation's buffer. Receiver only.
    struct Incoming {
        uint8_t header[wire::kHeaderSize];
        std::size_t headerBytes = 0;
        uint32_t tag = 0;
        uint8_t type = 0;
        uint32_t length = 0;  // of the payload
        uint8_t lead[8];
        std::size_t leadLength = 0;
        std::size_t leadBytes = 0;
        std::size_t dataBytes = 0;  // of the payload after the leading words
        uint32_t transferred = 0;   // data bytes that went to the operation's buffer
    };

    IoResult start(Kind kind, uint32_t timeoutMs, uint8_t* destination, uint32_t capacity,
                   const std::shared_ptr<Overlapped>& overlapped, uint8_t frameType, const void* prefix,
                   std::size_t prefixLength, const void* body, std::size_t bodyLength);
    void receiveLoop();
    // Takes what the instrument has sent so far, completing every whole
    // answer; false once the connection is broken (closed, failed, or bytes
    // that are no answer of the instrument).
    bool receiveAvailable();
    bool receiveHeader();
    bool leadReceived();
    bool receiveData(std::size_t left, bool& progress);
    void completeIncoming();
    void sendCancels(const std::vector<uint32_t>& tags);
    // Marks the operation cancelled at `now`; true when the receiver must
    // wake earlier than planned to watch the answer's deadline. Needs mutex_.
    bool markCancelled(Operation& operation, Clock::time_point now);
    void completeAll(uint32_t error);
    void wake();
    static uint32_t resultOf(uint32_t status, const Operation& operation);

    int fd_;
    int wakeFd_;
    std::mutex mutex_;  // guards operations_, nextTag_, connected_, wakeAt_
    std::map<uint32_t, Operation> operations_;
    uint32_t nextTag_ = 1;
    bool connected_ = true;
    Clock::time_point wakeAt_ = Clock::time_point::max();
    std::mutex sendMutex_;  // one frame on the wire at a time
    std::atomic<uint32_t> readTimeoutMs_{2000};
    std::atomic<uint32_t> writeTimeoutMs_{2000};
    Incoming incoming_;
    std::thread receiver_;
};

}  // namespace usb
}  // namespace platform
}  // namespace tarnix
