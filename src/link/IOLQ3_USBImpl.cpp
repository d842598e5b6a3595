#include "link/IOLQ3_USBImpl.h"

#include "platform/endian/ByteOrder.h"
#include "core/Logging.h"
#include "link/Bitstream.h"
#include "link/DeviceID.h"
#include "link/IOExceptions.h"

#include <algorithm>
#include <sstream>

namespace tarnix {
namespace impl {

namespace usb = platform::usb;
using detail::IOCTL;
using detail::IoctlAnswer;

namespace {

constexpr uint32_t kDrainPacketSize = 512;
constexpr uint8_t kSerialRegister = 32;
constexpr uint8_t kHardwareRegister = 40;
constexpr uint32_t kBytesPerRegisterRead = 4;

uint16_t bigEndian16(const uint8_t* p) { return uint16_t((p[0] << 8) | p[1]); }

}  // namespace

std::shared_ptr<IOLQ3_USBImpl> IOLQ3_USBImpl::create(const std::weak_ptr<DeviceID>& id,
                                                     std::shared_ptr<platform::usb::Backend> backend) {
    std::shared_ptr<IOLQ3_USBImpl> usbImpl(new IOLQ3_USBImpl(id, std::move(backend)));
    usbImpl->startUp();
    return usbImpl;
}

IOLQ3_USBImpl::IOLQ3_USBImpl(const std::weak_ptr<DeviceID>& id, std::shared_ptr<platform::usb::Backend> backend)
    : id_(id.lock()), interface_(std::move(backend)) {}

IOLQ3_USBImpl::~IOLQ3_USBImpl() = default;

void IOLQ3_USBImpl::startUp() {
    if (!id_)
        QV_THROW(QVIOInternalException("The specified device could not be found. Was it disconnected meanwhile?"));
    interface_.openDevice(*id_);
    vendorReset(1);
    driverVersion_ = getDriverVersion();
    if (driverVersion_.version < detail::kMinimalDriverVersion) {
        std::ostringstream text;
        text << "Illegal hardware driver version " << driverVersion_.version << ". "
             << "The minimal driver version required is " << detail::kMinimalDriverVersion << ". "
             << "Please update the Veltrane driver by installing the latest qvBase.";
        QV_THROW(QVIODriverVersionException(text.str()));
    }
    versionInfo_ = readVersions();
    drainController();
    program(Bitstream::blank(), 1, false);
}

void IOLQ3_USBImpl::drainController() {
    lockIn(1);
    drainPending();
    dummyRead();
    drainPending();
    lockIn(0);
    vendorReset(0);
}

template <uint32_t Function, std::size_t InputSize>
IoctlAnswer IOLQ3_USBImpl::request(const IOCTL<Function, InputSize>& ioctl, const char* failureText) {
    IoctlAnswer answer{};
    interface_.transferIOCTL(ioctl, answer);
    if (answer[detail::kIoctlStatusByte] != 0) {
        if (failureText) QV_THROW(QVIOInternalException(failureText));
        QV_THROW(QVIOInternalException());
    }
    return answer;
}

void IOLQ3_USBImpl::vendorReset(uint8_t value) {
    IOCTL<usb::kFnVendorReset, 1> ioctl;
    ioctl.input = {value};
    request(ioctl, nullptr);
}

uint32_t IOLQ3_USBImpl::getQVValue() {
    IOCTL<usb::kFnGetQVValue, 1> ioctl;
    ioctl.input = {0};
    const IoctlAnswer answer = request(ioctl, nullptr);
    return (uint32_t(answer[2]) << 24) | (uint32_t(answer[3]) << 16) | (uint32_t(answer[4]) << 8) | answer[5];
}

void IOLQ3_USBImpl::dummyRead() { request(IOCTL<usb::kFnDummyRead, 0>(), nullptr); }

void IOLQ3_USBImpl::startProgram(uint32_t length, uint8_t key) {
    IOCTL<usb::kFnStartProgram, 4> ioctl;
    ioctl.input = {uint8_t(length), uint8_t(length >> 8), uint8_t(length >> 16), key};
    request(ioctl, nullptr);
}

ConfigStatus IOLQ3_USBImpl::getConfigStatus() {
    const IoctlAnswer answer = request(IOCTL<usb::kFnGetConfigStatus, 0>(), nullptr);
    ConfigStatus status;
    status.picFlags = answer[2];
    status.bytesWanted = le::get16(&answer[3]);
    status.configFlags = answer[7];
    return status;
}

void IOLQ3_USBImpl::lockIn(uint8_t value) {
    IOCTL<usb::kFnLockIn, 1> ioctl;
    ioctl.input = {value};
    request(ioctl, nullptr);
}

DriverVersion IOLQ3_USBImpl::getDriverVersion() {
    IoctlAnswer answer{};
    interface_.transferIOCTL(IOCTL<usb::kFnGetDriverVersion, 0>(), answer);  // byte 1 is data here
    DriverVersion version;
    version.information = le::get32(&answer[0]);
    version.version = le::get16(&answer[4]);
    return version;
}

template <class Element>
void IOLQ3_USBImpl::readRegisters(uint8_t reg, std::vector<Element>& values) {
    // At most 4 bytes an answer; registers and counts are bytes.
    constexpr uint32_t perStep = kBytesPerRegisterRead / sizeof(Element);
    for (std::size_t position = 0; position < values.size();) {
        const uint32_t count = static_cast<uint32_t>(std::min<std::size_t>(values.size() - position, perStep));
        const uint32_t bytes = count * sizeof(Element);
        IOCTL<usb::kFnReadRegister, 2> ioctl;
        ioctl.input = {uint8_t(bytes), reg};
        const IoctlAnswer answer = request(ioctl, "The IOCTL for reading device registers failed.");
        for (uint32_t i = 0; i < count; ++i) {
            Element value = 0;
            for (uint32_t b = 0; b < sizeof(Element); ++b)
                value = Element(value | (Element(answer[4 + i * sizeof(Element) + b]) << (8 * b)));
            values[position + i] = value;
        }
        position += count;
        reg = uint8_t(reg + bytes);
    }
}

void IOLQ3_USBImpl::readRegister(uint8_t reg, std::vector<uint8_t>& bytes) { readRegisters(reg, bytes); }

void IOLQ3_USBImpl::readRegister(uint8_t reg, std::vector<uint16_t>& words) { readRegisters(reg, words); }

DeviceStats IOLQ3_USBImpl::getStats() {
    IOCTL<usb::kFnGetStats, 1> ioctl;
    ioctl.input = {6};
    const IoctlAnswer answer = request(ioctl, "The IOCTL for getting the device statistic failed.");
    DeviceStats stats;
    stats.state = answer[2];
    stats.packetsWaiting = uint8_t((answer[2] >> 4) & 7);
    stats.word = bigEndian16(&answer[3]);
    return stats;
}

void IOLQ3_USBImpl::reset() {
    IOCTL<usb::kFnReset, 1> ioctl;
    ioctl.input = {1};
    request(ioctl, "The IOCTL reset failed.");
}

void IOLQ3_USBImpl::clearPipe(uint8_t pipe) {
    IOCTL<usb::kFnClearPipe, 1> ioctl;
    ioctl.input = {pipe};
    request(ioctl, "The IOCTL for clearing the USB bulk pipes failed.");
}

Version IOLQ3_USBImpl::getVersions() {
    const IoctlAnswer answer = request(IOCTL<usb::kFnGetVersions, 0>(), "The IOCTL for getting the version data failed.");
    Version version;
    version.picMajor = answer[2];
    version.picMinor = answer[3];
    version.firmwareMajor = answer[4];
    version.firmwareMinor = answer[5];
    version.build = bigEndian16(&answer[6]);
    return version;
}

DeviceVersionInfo IOLQ3_USBImpl::readVersions() {
    const Version version = getVersions();
    std::vector<uint8_t> identity(8);
    readRegister(kSerialRegister, identity);
    std::vector<uint8_t> hardware(kBytesPerRegisterRead);
    readRegister(kHardwareRegister, hardware);
    DeviceVersionInfo info;
    info.serialNumber = le::get32(&identity[0]);
    info.productNumber = le::get32(&identity[4]);
    info.firmwareMajor = uint8_t(version.firmwareMajor);
    info.firmwareMinor = uint8_t(version.firmwareMinor);
    info.picMajor = uint8_t(version.picMajor);
    info.picMinor = uint8_t(version.picMinor);
    std::copy(hardware.begin(), hardware.end(), info.register40.begin());
    return info;
}

void IOLQ3_USBImpl::drainPending() {
    const DeviceStats stats = getStats();
    detail::ReadBuffer_USB_Win& buffer = interface_.currentRead();
    try {
        for (uint32_t packet = 0; packet < stats.packetsWaiting; ++packet) {
            if (!buffer.readAsync(kDrainPacketSize)) buffer.waitAsync();
        }
    } catch (const QVIOTimeoutException&) {
        // Nothing more came: drained.
    }
}

void IOLQ3_USBImpl::logPicVersion() const {
    QVLOG(logging::status) << "PIC Version:   " << unsigned(versionInfo_.picMajor) << "."
                           << unsigned(versionInfo_.picMinor);
    engine_.logState();
}

}  // namespace impl
}  // namespace tarnix
