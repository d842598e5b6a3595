#pragma once
#include "link/Interface.h"
#include "link/StateEngineRD_USB.h"
#include "platform/thread/BoundedSpin.h"

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace tarnix {

class Bitstream;
class DeviceID;

namespace impl {

// What the controller reports about itself (registers 32 and 40 and the
// version request).
struct DeviceVersionInfo {
    uint32_t productNumber = 0;  // register 32 bytes 4..7, little-endian
    uint32_t serialNumber = 0;   // register 32 bytes 0..3, little-endian
    uint8_t firmwareMajor = 0;
    uint8_t firmwareMinor = 0;
    uint8_t picMajor = 0;
    uint8_t picMinor = 0;
    std::array<uint8_t, 4> register40{};
};

// Answer of getVersions.
struct Version {
    uint32_t picMajor = 0;
    uint32_t picMinor = 0;
    uint32_t firmwareMajor = 0;
    uint32_t firmwareMinor = 0;
    uint16_t build = 0;  // answer bytes 6..7, big-endian
};

// Answer of getConfigStatus.
struct ConfigStatus {
    static constexpr uint32_t kPicDone = 0x80;    // configuration finished, a design runs
    static constexpr uint32_t kPicInit = 0x08;    // CONFIG_STATUS_BIT_INIT; clear after a CRC error
    static constexpr uint32_t kConfigBusy = 0x02;  // configuration flags: still configuring

    uint32_t bytesWanted = 0;
    uint32_t picFlags = 0;
    uint32_t configFlags = 0;
};

// Answer of getStats.
struct DeviceStats {
    uint8_t state = 0;
    uint8_t packetsWaiting = 0;  // 512-byte packets waiting in the device-to-host pipe, 0 to 7
    uint16_t word = 0;
};

// Answer of getDriverVersion.
struct DriverVersion {
    uint32_t information = 0;  // answer bytes 0..3
    uint16_t version = 0;      // answer bytes 4..5
};

// The USB I/O of one instrument: control requests, FPGA programming through
// the write pipe, the host-to-device write queue and the device-to-host poll.
// Used by one thread at a time (the device object's constructor, then its
// device thread); only logPicVersion and the counters may be read elsewhere.
class IOLQ3_USBImpl {
public:
    static constexpr uint32_t kMaxProgramRepeats = 3;
    static constexpr uint32_t kProgramBusyLimitMs = 2000;

    // Opens the instrument through `backend`, checks the driver, resets the
    // controller and sends a blank configuration. Any failure leaves as an
    // exception.
    static std::shared_ptr<IOLQ3_USBImpl> create(const std::weak_ptr<DeviceID>& id,
                                                 std::shared_ptr<platform::usb::Backend> backend);
    ~IOLQ3_USBImpl();
    IOLQ3_USBImpl(const IOLQ3_USBImpl&) = delete;
    IOLQ3_USBImpl& operator=(const IOLQ3_USBImpl&) = delete;

    // Control requests. Failures: QVIOInternalException, QVIOTimeoutException,
    // QVIOSizeException.
    void vendorReset(uint8_t value);
    uint32_t getQVValue();
    void dummyRead();
    void startProgram(uint32_t length, uint8_t key);
    ConfigStatus getConfigStatus();
    void lockIn(uint8_t value);
    DriverVersion getDriverVersion();
    // Controller registers: 4 bytes (2 words) per request from `reg` on.
    void readRegister(uint8_t reg, std::vector<uint8_t>& bytes);
    void readRegister(uint8_t reg, std::vector<uint16_t>& words);
    DeviceStats getStats();
    void reset();
    void clearPipe(uint8_t pipe);
    Version getVersions();

    DeviceVersionInfo readVersions();
    // Reads and drops what the device-to-host pipe holds; the last packet stays
    // in the current read buffer for the next poll.
    void drainPending();
    // Ends a controller reset begun with vendorReset(1): lock-in, drain, dummy
    // read, drain, release, vendorReset(0).
    void drainController();
    // Configures the FPGA through the write pipe. A design that does not start
    // throws QVIOProgramFailedException unless `retry` is off and `key` is 1.
    void program(const Bitstream& bitstream, uint8_t key, bool retry);
    void logPicVersion() const;

    // Host-to-device write queue. A write message is queueWriteBegin followed
    // by queueWriteData calls that supply exactly the announced payload.
    void queueWriteBegin(uint32_t address, uint32_t length);
    void queueWriteData(const uint8_t* data, uint32_t length);
    void queueRequestData(uint32_t address, uint32_t length);
    void appendWrite(const uint8_t* bytes, uint32_t length);
    bool writeQueueEmpty() { return interface_.currentWrite().empty(); }
    // Sends what the queue holds (waiting for the transfer in flight first).
    // Time-outs leave as QVIOTimeoutException.
    void sendWriteQueue();
    // Bytes of host-to-device messages whose write has completed (FPGA
    // configuration data not included).
    uint64_t bytesSent() const { return bytesSent_.load(std::memory_order_relaxed); }

    // Waits for the next complete device message: copies its payload into the
    // destination (null: not copied) and stores its address and payload length
    // (0: none came within `timeoutMs` of `startMicros`, a timeOfDayMicros()
    // value; timeout 0 waits without limit). A message longer than a given
    // destination is dropped and counted as skipped. When `giveWay` is given
    // and answers true while the poll would have to wait for the instrument,
    // it ends at once with length 0; the transfer in flight stays pending for
    // the next poll.
    void poll(uint32_t* address, uint32_t* length, uint8_t* destination, uint32_t destinationSize,
              uint32_t timeoutMs, uint64_t startMicros, const std::function<bool()>& giveWay = {});
    // Callable from any thread: a poll waiting to give way asks `giveWay`
    // again at once instead of at its next check. The callable may outlive
    // this object.
    std::function<void()> giveWayWaker() const;
    // How often a poll that waits to give way asks `giveWay` unprompted.
    void setGiveWayCheckInterval(uint32_t millis) { giveWayCheckMs_ = millis; }
    // How long the next poll that waits to give way first keeps asking
    // `giveWay` without sleeping (0: it sleeps at once). A request that comes
    // meanwhile is served without its poster having to wake this thread.
    void setGiveWaySpin(std::chrono::microseconds spin) { giveWayLook_ = spin; }
    // The UTC time of day in microseconds.
    static uint64_t timeOfDayMicros();

    StateEngineRD_USB& readEngine() { return engine_; }
    const StateEngineRD_USB& readEngine() const { return engine_; }
    const DeviceVersionInfo& versionInfo() const { return versionInfo_; }
    DriverVersion driverVersion() const { return driverVersion_; }
    detail::Interface& usbInterface() { return interface_; }

private:
    IOLQ3_USBImpl(const std::weak_ptr<DeviceID>& id, std::shared_ptr<platform::usb::Backend> backend);
    void startUp();
    // Checked request: answer byte 1 must be 0, else QVIOInternalException with
    // `failureText` (null: the default text).
    template <uint32_t Function, std::size_t InputSize>
    detail::IoctlAnswer request(const detail::IOCTL<Function, InputSize>& ioctl, const char* failureText);
    template <class Element>
    void readRegisters(uint8_t reg, std::vector<Element>& values);
    void writeAll(const uint8_t* data, uint32_t length);
    void resetWriteQueue();
    // Writes the other write buffer's own bytes and counts them as sent.
    void writeOtherBuffer();
    void countSent(uint64_t bytes);
    // Between messages: waits for the read in flight while `giveWay` answers
    // false; true when it answered true first.
    bool waitToGiveWay(const std::function<bool()>& giveWay);

    enum WriteState { kWriteIdle = 0, kWriteOpen = 1 };

    std::shared_ptr<DeviceID> id_;
    detail::Interface interface_;
    DeviceVersionInfo versionInfo_;
    DriverVersion driverVersion_;
    WriteState writeState_ = kWriteIdle;
    std::atomic<uint64_t> bytesSent_{0};
    uint32_t announced_ = 0;
    uint32_t queued_ = 0;
    StateEngineRD_USB engine_;
    // The read a poll waits on to give way, shared with the wakers handed out.
    struct GiveWayWait {
        std::mutex mutex;
        std::shared_ptr<platform::usb::Event> waitingOn;  // null while no poll waits to give way
        void wake();
    };
    const std::shared_ptr<GiveWayWait> giveWayWait_ = std::make_shared<GiveWayWait>();
    // Requests wake the wait (see giveWayWaker); the check at this pace only
    // bounds a wake-up that went astray.
    uint32_t giveWayCheckMs_ = 250;
    std::chrono::microseconds giveWayLook_{0};
    platform::BoundedSpin giveWaySpin_;
};

}  // namespace impl
}  // namespace tarnix
