#pragma once
// A scripted instrument behind the fake USB back-end: answers the controller's
// requests like a healthy instrument unless a test says otherwise.
#include "platform/endian/ByteOrder.h"
#include "link/DeviceID.h"
#include "link/IOLQ3_USBImpl.h"
#include "platform/usb/DriverCodes.h"
#include "support/usb/FakeDevice.h"

#include <deque>
#include <memory>
#include <mutex>
#include <vector>

namespace tarnix {
namespace testing {

namespace usb = platform::usb;

struct FakeConfigStatus {
    uint8_t picFlags = 0x88;
    uint16_t bytesWanted = 0;
    uint8_t configFlags = 0;
};

class FakeInstrument {
public:
    FakeInstrument() : device(std::make_shared<usb::FakeDevice>()), backend(std::make_shared<usb::FakeBackend>()) {
        backend->add("/fake/lq3-1", device);
        id = std::make_shared<detail::DeviceID_USB>("/fake/lq3-1");
        le::put32(&registers[32], 0x01020304);
        le::put32(&registers[36], 7);
        for (int i = 0; i < 6; ++i) le::put16(&registers[16 + 2 * i], uint16_t(1000 + i));
        registers[40] = 0xA1;
        device->setControlHandler([this](uint32_t function, const std::vector<uint8_t>& input) {
            return answer(function, input);
        });
    }

    // Config statuses handed out in order; when used up, `settled` is repeated.
    void queueConfigStatus(FakeConfigStatus status) {
        std::lock_guard<std::mutex> lock(mutex);
        configStatuses.push_back(status);
    }

    usb::FakeDevice::Reply answer(uint32_t function, const std::vector<uint8_t>& input) {
        std::lock_guard<std::mutex> lock(mutex);
        usb::FakeDevice::Reply reply;
        reply.data.assign(8, 0);
        uint8_t* a = reply.data.data();
        switch (function) {
        case usb::kFnGetDriverVersion:
            le::put32(a, 0x00010001);
            le::put16(a + 4, driverVersion);
            break;
        case usb::kFnGetVersions:
            a[2] = 1, a[3] = 3, a[4] = 2, a[5] = 5, a[6] = 0x01, a[7] = 0x02;
            break;
        case usb::kFnGetQVValue:
            a[2] = 0x01, a[3] = 0x02, a[4] = 0x03, a[5] = 0x04;
            break;
        case usb::kFnReadRegister:
            for (uint32_t i = 0; i < input[0] && i < 4; ++i) a[4 + i] = registers[(input[1] + i) & 0xFF];
            break;
        case usb::kFnGetConfigStatus: {
            FakeConfigStatus status = settled;
            if (!configStatuses.empty()) {
                status = configStatuses.front();
                configStatuses.pop_front();
            }
            a[2] = status.picFlags;
            le::put16(a + 3, status.bytesWanted);
            a[7] = status.configFlags;
            break;
        }
        case usb::kFnGetStats:
            a[2] = uint8_t(packetsWaiting << 4);
            break;
        default:
            break;
        }
        return reply;
    }

    std::shared_ptr<impl::IOLQ3_USBImpl> open() { return impl::IOLQ3_USBImpl::create(id, backend); }

    // Control functions called, in order.
    std::vector<uint32_t> functions() const {
        std::vector<uint32_t> called;
        for (const auto& call : device->controlCalls()) called.push_back(call.function);
        return called;
    }

    std::shared_ptr<usb::FakeDevice> device;
    std::shared_ptr<usb::FakeBackend> backend;
    std::shared_ptr<DeviceID> id;
    std::mutex mutex;
    uint16_t driverVersion = 7437;
    uint8_t packetsWaiting = 0;
    uint8_t registers[256] = {};
    FakeConfigStatus settled;
    std::deque<FakeConfigStatus> configStatuses;
};

}  // namespace testing
}  // namespace tarnix
