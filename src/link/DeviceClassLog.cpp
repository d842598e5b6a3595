#include "core/Logging.h"
#include "core/fifo/QVFifo.h"
#include "link/DeviceEncFX2Impl.h"
#include "link/IOLQ3_USBImpl.h"
#include "link/RunLengthDump.h"

namespace tarnix {
namespace impl {

// Read while the device thread runs: the counters may be a pass old.
void DeviceEncFX2Impl::logClassData() const {
    const auto flag = [](bool value) { return value ? 1 : 0; };
    QVLOG(logging::status) << "-- Class Log Data Start -----------------------------";
    QVLOG(logging::status) << "Class name:    " << name();
    QVLOG(logging::status) << "Children:      " << childCount();
    QVLOG(logging::status) << "Flags: illgal: " << flag(isIllegal());
    QVLOG(logging::status) << "      stopped: " << flag(isFinished());
    QVLOG(logging::status) << "      running: " << flag(isRunning());
    QVLOG(logging::status) << "   programmed: " << flag(programmed());
    QVLOG(logging::status) << "   initalized: " << flag(initialized());
    QVLOG(logging::status) << " need program: " << flag(needProgram());
    QVLOG(logging::status) << "Got bad msg:   " << flag(gotBadMessage());
    QVLOG(logging::status) << "Device serial: " << serial();
    QVLOG(logging::status) << "Alive counter: " << aliveCounter();
    QVLOG(logging::status) << "Msg count sum: " << msgCountWindow_.sum();
    QVLOG(logging::status) << "Msg count avg: " << msgCountWindow_.sum() * 0.1;
    QVLOG(logging::status) << "Poll cnt sum:  " << pollCountWindow_.sum();
    QVLOG(logging::status) << "Poll cnt avg:  " << pollCountWindow_.sum() * 0.1;
    QVLOG(logging::status) << "Byte sent:     " << lastBytesSent_.load();
    QVLOG(logging::status) << "Byte received: " << lastBytesReceived_.load();
    QVLOG(logging::status) << "Msg skipped:   " << msgSkipped_.load();
    QVLOG(logging::status) << "RD fifo size:  " << outputFifo_->used();
    QVLOG(logging::status) << "WR fifo size:  " << requestFifo_->used();
    {
        std::lock_guard<std::mutex> lock(messageBufferMutex_);
        QVLOG(logging::status) << "Msg buffer:    " << runLengthDump(messageBuffer_.get(), kMessageBufferSize);
    }
    usb_->logPicVersion();
    QVLOG(logging::status) << "-- Class Log Data End   -----------------------------";
}

}  // namespace impl
}  // namespace tarnix
