#include "link/FpgaConfiguration.h"

#include "core/LogRateLimit.h"
#include "core/Logging.h"
#include "link/Bitstream.h"
#include "link/EmbeddedResource.h"
#include "link/IOExceptions.h"
#include "link/IOLQ3_USBImpl.h"

#include <boost/format.hpp>
#include <thread>

#include <vector>

namespace tarnix {

namespace {

constexpr uint32_t kProbeAddress = 0x08020000;  // the feature-list aperture
constexpr uint32_t kProbeLength = 4;
constexpr uint32_t kProbeTimeoutMs = 100;
constexpr uint32_t kSettleAfterConfigurationMs = 500;
constexpr uint8_t kSupplyRegister = 16;

void logSupplies(impl::IOLQ3_USBImpl& usb) {
    std::vector<uint16_t> words(6);
    usb.readRegister(kSupplyRegister, words);
    const char* const names[] = {"1.2V = %.3f", "1.8V = %.3f", "2.5V = %.3f", "3.3V = %.3f", "5.0V = %.3f"};
    for (int i = 0; i < 5; ++i) QVLOG(logging::error) << boost::format(names[i]) % (words[i] * 0.001);
    QVLOG(logging::error) << boost::format("Temp = %u") % words[5];
}

}  // namespace

bool isBitstreamRunning(impl::IOLQ3_USBImpl& usb) {
    uint32_t address = 0;
    uint32_t length = 0;
    usb.poll(&address, &length, nullptr, 0, kProbeTimeoutMs, impl::IOLQ3_USBImpl::timeOfDayMicros());
    usb.readEngine().resyncPacketCount();
    if (length != 0) {
        QVLOG_LIMITED(logging::info) << boost::format("Got spontaneous data: address=%08x, length=%u") % address %
                                            length;
        return true;
    }
    usb.queueRequestData(kProbeAddress, kProbeLength);
    usb.sendWriteQueue();
    usb.poll(&address, &length, nullptr, 0, kProbeTimeoutMs, impl::IOLQ3_USBImpl::timeOfDayMicros());
    if (length == 0) {
        QVLOG(logging::status) << "No bitstream running.";
        return false;
    }
    QVLOG(logging::debug) << boost::format("Got stimulated data: address = %08x, length = %ld.") % address %
                                 static_cast<long>(length);
    return true;
}

bool programBitstream(impl::IOLQ3_USBImpl& usb) {
    QVLOG(logging::status) << "Program bitstream.";
    usb.vendorReset(1);
    usb.drainController();
    usb.program(Bitstream::blank(), 1, false);

    const EmbeddedResource* resource = findEmbeddedResource(bitstreamResourceName());
    if (!resource) return false;

    impl::ConfigStatus status = usb.getConfigStatus();
    QVLOG(logging::status) << boost::format(
                                  "Calling EncFX2Configure, key = %s with PIC flags 0x%02x and Config flags 0x%02x.") %
                                  resource->name % status.picFlags % status.configFlags;
    Bitstream bitstream(Bitstream::kInstrumentFpgaType);
    if (resource->valid)
        bitstream.configure(resource->bytes(), resource->size);
    else
        bitstream.configure(nullptr, 0);  // a damaged resource is never sent
    usb.program(bitstream, 0, true);

    try {
        status = usb.getConfigStatus();
    } catch (const QVIOException&) {
        QVLOG(logging::error) << "EncFX2Configure failed.";
        QV_THROW(QVDeviceException());
    }
    QVLOG(logging::status) << boost::format("EncFX2Configure done with PIC flags 0x%02x and Config flags 0x%02x.") %
                                  status.picFlags % status.configFlags;
    const uint32_t started = impl::ConfigStatus::kPicDone | impl::ConfigStatus::kPicInit;
    if ((status.picFlags & started) != started) {
        QVLOG(logging::error) << boost::format(
                                     "EncFX2Configure failed with PIC flags 0x%02x and Config flags 0x%02x.") %
                                     status.picFlags % status.configFlags;
        logSupplies(usb);
        usb.reset();
        QVLOG(logging::status) << "Reset of FX2 successful.";
        usb.clearPipe(0);
        usb.clearPipe(1);
        QV_THROW(QVDeviceException("Device bitstream programming was not successful. Will restart the device ..."));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(kSettleAfterConfigurationMs));
    return true;
}

}  // namespace tarnix
