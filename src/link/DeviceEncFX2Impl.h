#pragma once
#include "core/component/QVBaseImpl.h"
#include "core/fifo/ZeroedArray.h"
#include "engine/DeviceAccess.h"
#include "link/StatsWindow.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace tarnix {

class DeviceID;
class QVFifo;
class TreeRegistry;
namespace platform {
namespace usb {
class Backend;
}
}  // namespace platform
struct Endpoint;

// The waits of the device loop. Tests shorten them; the server never does.
struct DeviceLoopTiming {
    uint32_t pollTimeoutMs = 200;                      // wait for the next device message
    std::chrono::milliseconds emptyPassPause{5};       // after a pass that brought nothing
    std::chrono::milliseconds overflowPause{5};        // after a full stream buffer
    std::chrono::milliseconds streamsFullPause{1};     // while the stream buffers have no room
    std::chrono::microseconds fastStatsPeriod{100000};  // transfer statistics
    std::chrono::microseconds slowStatsPeriod{2000000};  // supplies and temperature
};

namespace impl {

class IOLQ3_USBImpl;

// One instrument's device object: its USB I/O, the FIFOs of its tree and its
// device state, driven by the device thread (pre once, then run pass after
// pass). See DeviceEncFX2 for the facade.
class DeviceEncFX2Impl : public QVBaseImpl, public DeviceAccess {
public:
    static constexpr uint32_t kMaxRequestsPerPass = 50;
    // Room the output FIFO must have before a request is taken: the answers
    // of one request (a reply and the changes it causes) with room to spare.
    static constexpr uint32_t kAnswerRoomBytes = 65536;
    static constexpr uint32_t kAnswerRoomBlocks = 64;
    // Records the output FIFO may hold for the dispatcher when a request is
    // taken: an answer queues behind at most this many others, and the
    // requests wait at the tree's gate instead, where sessions take turns.
    static constexpr uint32_t kAnswerBacklog = 64;
    static constexpr uint32_t kMaxMessagesPerPass = 500;
    // With client requests waiting the read phase gives way after this many.
    static constexpr uint32_t kMessagesBeforeRequests = 50;
    // Empty passes (net) tolerated before the instrument counts as dead.
    static constexpr uint32_t kAliveLimit = 50;
    // The longest client requests wait for the instrument's start-up values.
    static constexpr std::chrono::milliseconds kStartUpHoldLimit{2000};
    // A client that asks in a loop posts its next request within this time
    // of the last one taken; meanwhile the wait for the instrument first
    // looks for it this long without sleeping.
    static constexpr std::chrono::microseconds kAskingGap{200};
    static constexpr std::chrono::microseconds kRequestSpin{50};
    // Device messages at or above this address are invalid.
    static constexpr uint32_t kInvalidAddress = 0x14000000;
    static constexpr uint32_t kMessageBufferSize = 524288;
    // Room the stream buffers must have before messages are read: enough for
    // the samples of several of the largest messages seen.
    static constexpr uint32_t kStreamRoomProbe = 262144;
    static constexpr uint32_t kStreamRoomProbeMax = 2097152;
    static constexpr uint8_t kSupplyRegister = 16;

    // Opens the instrument (IOLQ3_USBImpl::create); its failures leave here.
    // The instrument's groups are built from `featureInitMap`.
    DeviceEncFX2Impl(const std::string& name, exception::ExceptionCarrier& carrier, TreeRegistry& registry,
                     const std::weak_ptr<DeviceID>& id, std::shared_ptr<platform::usb::Backend> backend,
                     const FeatureInitMapTable& featureInitMap);
    // Stops the thread and closes the device state; never throws.
    ~DeviceEncFX2Impl() override;

    // Every failure of one instrument leaves these as a QVDeviceException, so
    // that it ends this device object only.
    void pre() override;
    void run() override;
    // Also ends the read phase's wait for the instrument at once.
    void stop() override;
    // The instrument was pulled out while its connection still stands (its
    // socket left the instrument folder): the device thread ends at its next
    // pass as when the connection breaks. Any thread.
    void pullOut();
    bool pulledOut() const { return pulledOut_.load(); }
    void logClassData() const override;

    // Sends what the write queue holds; a write time-out clears the pipes and
    // ends the device ("Device does no more receive write data.").
    void flush() override;
    // Destroys the device state (and so the device's tree).
    void close();
    // Configures the FPGA from the embedded design.
    void programBitstream();
    bool isBitstreamRunning();

    void setProgAlways(bool progAlways) { progAlways_.store(progAlways); }
    bool progAlways() const { return progAlways_.load(); }
    bool programmed() const { return programmed_.load(); }
    bool initialized() const { return initialized_.load(); }
    bool needProgram() const { return needProgram_.load(); }
    bool gotBadMessage() const { return gotBadMsg_.load(); }
    uint32_t aliveCounter() const { return aliveCounter_.load(); }

    IOLQ3_USBImpl& usb() const { return *usb_; }
    void setLoopTimingForTest(const DeviceLoopTiming& timing) { timing_ = timing; }

    // DeviceAccess: what the device state engine uses, on the device thread.
    void queueWriteBegin(uint32_t address, uint32_t length) override;
    void queueWriteData(const uint8_t* data, uint32_t length) override;
    void queueRequestData(uint32_t address, uint32_t length) override;
    std::shared_ptr<QVFifo> outputFifo() override { return outputFifo_; }
    std::shared_ptr<QVFifo> requestFifo() override { return requestFifo_; }
    // A client request ends the read phase's wait for the instrument at once.
    std::shared_ptr<RequestGate> requestGate() override { return requestGate_; }
    TreeRegistry& treeRegistry() override { return registry_; }
    uint32_t serial() const override { return serial_.load(); }
    EngineTime now() const override { return EngineClock::now(); }
    void setInitialized() override { initialized_.store(true); }
    void setNeedProgram() override { needProgram_.store(true); }
    bool bitstreamProgrammed() const override { return programmed(); }
    bool embeddedBitstreamDigest(std::array<uint8_t, 16>& digest) const override;

private:
    using Clock = std::chrono::steady_clock;

    void startUp();
    void pass();
    void restartAfterBadMessage();
    // Whether client requests stay in their queue for now (see DeviceLoop.cpp).
    bool requestsOnHold();
    void takeRequests();
    // Room in the output FIFO for the answers of one more request, and few
    // enough answers queued before them.
    bool canQueueAnswers();
    // A request is waiting and its answers can be queued.
    bool requestReady();
    // An endpoint of the device's tree, read on the device thread.
    const Endpoint* ownEndpoint(uint32_t id);
    // Reads device messages; `gaveWay` tells whether the phase ended early for
    // waiting client requests, or because the stream buffers had no room,
    // rather than by the poll time-out.
    uint32_t readMessages(bool& gaveWay);
    // Whether the stream buffers can take the samples of the next message;
    // checks them only when the room last seen is used up.
    bool streamsHaveRoom();
    void wakeDispatcher();
    void dispatchMessage(uint32_t address, uint32_t length, uint32_t count);
    void reportFastStats();
    void reportSlowStats();
    void checkAlive(uint32_t messages);
    void reportCounter(int statsValue, uint64_t counter, std::atomic<uint64_t>& last);
    [[noreturn]] void clearPipesAndFail();

    TreeRegistry& registry_;
    std::shared_ptr<IOLQ3_USBImpl> usb_;
    std::shared_ptr<QVFifo> outputFifo_;
    std::shared_ptr<QVFifo> requestFifo_;
    std::shared_ptr<RequestGate> requestGate_;
    std::weak_ptr<DeviceID> deviceId_;
    std::atomic<uint32_t> serial_{0};
    std::atomic<bool> progAlways_{false};
    std::atomic<uint32_t> aliveCounter_{0};
    std::atomic<bool> programmed_{false};
    std::atomic<bool> initialized_{false};
    std::atomic<bool> needProgram_{false};
    std::atomic<bool> gotBadMsg_{false};
    std::atomic<bool> pulledOut_{false};
    Clock::time_point fastStatsTime_;
    Clock::time_point slowStatsTime_;
    std::atomic<uint64_t> lastBytesSent_{0};
    std::atomic<uint64_t> lastBytesReceived_{0};
    std::atomic<uint64_t> msgSkipped_{0};
    StatsWindow msgCountWindow_;
    StatsWindow pollCountWindow_;
    DeviceLoopTiming timing_;
    // The class log dumps the buffer from another thread; the device thread
    // holds the mutex while it fills and dispatches one message.
    mutable std::mutex messageBufferMutex_;
    ZeroedArray<uint8_t> messageBuffer_;
    // Bytes of samples the stream buffers can still take since their last
    // check, and the largest message seen (its samples take at most twice
    // its bytes in any one buffer).
    uint64_t streamRoom_ = 0;
    uint32_t largestMessage_ = 4096;
    bool streamsFull_ = false;
    // Since when client requests have waited for start-up values (device thread).
    std::optional<Clock::time_point> holdSince_;
    // When a client request was last taken (device thread).
    Clock::time_point requestTakenAt_;
};

}  // namespace impl
}  // namespace tarnix
