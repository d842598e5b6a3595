#include "link/DeviceEncFX2Impl.h"

#include "core/Logging.h"
#include "core/QVException.h"
#include "core/fifo/BufferFifo.h"
#include "core/tree/FailedRequests.h"
#include "core/tree/RequestGate.h"
#include "engine/DeviceState.h"
#include "link/DeviceEncFX2.h"
#include "link/DeviceFailure.h"
#include "link/DeviceID.h"
#include "link/EmbeddedResource.h"
#include "link/FpgaConfiguration.h"
#include "link/IOExceptions.h"
#include "link/IOLQ3_USBImpl.h"

#include <boost/format.hpp>

namespace tarnix {

namespace {

using OutputFifo = BufferFifo<65536, 1048576>;
using RequestFifo = BufferFifo<524288, 8388608>;

}  // namespace

namespace impl {

DeviceEncFX2Impl::DeviceEncFX2Impl(const std::string& name, exception::ExceptionCarrier& carrier,
                                   TreeRegistry& registry, const std::weak_ptr<DeviceID>& id,
                                   std::shared_ptr<platform::usb::Backend> backend,
                                   const FeatureInitMapTable& featureInitMap)
    : QVBaseImpl(name, carrier),
      DeviceAccess(featureInitMap),
      registry_(registry),
      usb_(IOLQ3_USBImpl::create(id, std::move(backend))),
      outputFifo_(std::make_shared<OutputFifo>()),
      requestFifo_(std::make_shared<RequestFifo>()),
      requestGate_(std::make_shared<RequestGate>(std::static_pointer_cast<BufferFifoBase>(requestFifo_),
                                                 usb_->giveWayWaker())),
      deviceId_(id),
      fastStatsTime_(Clock::now()),
      slowStatsTime_(fastStatsTime_),
      // Zeroed: the class log dumps it whole, also before the first message.
      messageBuffer_(allocateZeroed<uint8_t>(kMessageBufferSize)) {}

DeviceEncFX2Impl::~DeviceEncFX2Impl() {
    try {
        DeviceEncFX2Impl::stop();
        close();
    } catch (const boost::exception&) {
        logCurrentExceptionBanner();
        QVLOG(logging::error) << "Severe error: ~DeviceEncFX2 did throw.";
    } catch (...) {
        QVLOG(logging::error) << "Severe error: ~DeviceEncFX2 did throw.";
    }
}

void DeviceEncFX2Impl::pre() {
    try {
        startUp();
    } catch (...) {
        rethrowAsDeviceException();
    }
}

void DeviceEncFX2Impl::run() {
    try {
        pass();
    } catch (...) {
        rethrowAsDeviceException();
    }
}

void DeviceEncFX2Impl::stop() {
    QVBaseImpl::stop();
    requestGate_->wakeOwner();
}

void DeviceEncFX2Impl::pullOut() {
    pulledOut_.store(true);
    requestGate_->wakeOwner();
}

void DeviceEncFX2Impl::startUp() {
    setPriority(TimeCritical);

    const DeviceVersionInfo versions = usb_->readVersions();
    QVLOG(logging::status) << boost::format("Firmware Version: %u.%u.") % unsigned(versions.firmwareMajor) %
                                  unsigned(versions.firmwareMinor);
    serial_.store(usb_->getQVValue());
    QVLOG(logging::status) << "Got QVSerial: " << serial_.load();
    if (serial_.load() != versions.serialNumber) {
        QVLOG(logging::warning) << boost::format(
                                       "Serial number mismatch: the controller reports %u, its identity register "
                                       "holds %u.") %
                                       serial_.load() % versions.serialNumber;
    }

    const QV_STATUS created = DeviceStateCreate(*this);
    if (created != QV_NO_ERROR) QV_THROW(QVDeviceException(QVException(created).what()));

    if (progAlways_.load() || !isBitstreamRunning()) {
        programBitstream();
        stateOf(*this).sigInRewriteState = SigInRewriteState::FpgaConfigured;
    }
}

bool DeviceEncFX2Impl::isBitstreamRunning() { return tarnix::isBitstreamRunning(*usb_); }

bool DeviceEncFX2Impl::embeddedBitstreamDigest(std::array<uint8_t, 16>& digest) const {
    const EmbeddedResource* resource = findEmbeddedResource(bitstreamResourceName());
    if (!resource || !resource->valid) return false;
    digest = resource->expectedDigest;
    return true;
}

void DeviceEncFX2Impl::programBitstream() {
    if (tarnix::programBitstream(*usb_)) programmed_.store(true);
}

void DeviceEncFX2Impl::flush() {
    if (usb_->writeQueueEmpty()) return;
    try {
        usb_->sendWriteQueue();
    } catch (const QVIOTimeoutException&) {
        QVLOG(logging::error) << "Warning: Clearing bulk pipes ...";
        clearPipesAndFail();
    }
}

void DeviceEncFX2Impl::clearPipesAndFail() {
    usb_->clearPipe(0);
    usb_->clearPipe(1);
    QV_THROW(QVDeviceException("Device does no more receive write data."));
}

void DeviceEncFX2Impl::close() {
    const QV_STATUS status = DeviceStateDestroy(*this);
    // Requests still queued or waiting at the gate are answered as failed,
    // and no more get in.
    DispatcherFailQueuedRequests(registry_, *requestGate_);
    if (status != QV_NO_ERROR) QV_THROW(QVException(status));
}

void DeviceEncFX2Impl::queueWriteBegin(uint32_t address, uint32_t length) { usb_->queueWriteBegin(address, length); }

void DeviceEncFX2Impl::queueWriteData(const uint8_t* data, uint32_t length) { usb_->queueWriteData(data, length); }

void DeviceEncFX2Impl::queueRequestData(uint32_t address, uint32_t length) {
    usb_->queueRequestData(address, length);
}

}  // namespace impl

DeviceEncFX2::DeviceEncFX2(exception::ExceptionCarrier& carrier, TreeRegistry& registry,
                           const std::weak_ptr<DeviceID>& id, std::shared_ptr<platform::usb::Backend> backend,
                           const FeatureInitMapTable& featureInitMap)
    : QVBase(std::make_shared<impl::DeviceEncFX2Impl>("DeviceEncFX2", carrier, registry, id, std::move(backend),
                                                      featureInitMap)) {}

void DeviceEncFX2::setProgAlways(bool progAlways) { impl().setProgAlways(progAlways); }

impl::DeviceEncFX2Impl& DeviceEncFX2::impl() const { return implAs<impl::DeviceEncFX2Impl>(); }

}  // namespace tarnix
