// FPGA programming through the host-to-device pipe.
#include "core/Logging.h"
#include "link/Bitstream.h"
#include "link/IOExceptions.h"
#include "link/IOLQ3_USBImpl.h"

#include <boost/format.hpp>
#include <thread>

#include <algorithm>
#include <chrono>

namespace tarnix {
namespace impl {

namespace {

constexpr uint32_t kPaddingStep = 1024;
const uint8_t kZeroPadding[kPaddingStep] = {};

}  // namespace

void IOLQ3_USBImpl::writeAll(const uint8_t* data, uint32_t length) {
    if (length > 0) interface_.currentWrite().writeAndWait(data, length);
}

void IOLQ3_USBImpl::program(const Bitstream& bitstream, uint8_t key, bool retry) {
    const auto& image = bitstream.data();
    for (uint32_t repeats = 0;; ++repeats) {
        interface_.otherWrite().waitAsync();
        interface_.swapWriteBuffers();
        startProgram(static_cast<uint32_t>(image.size()), key);
        writeAll(image.data(), static_cast<uint32_t>(image.size()));

        // The controller asks for padding until the configuration has ended; a
        // controller that stays busy is given up on.
        const auto giveUp = std::chrono::steady_clock::now() + std::chrono::milliseconds(kProgramBusyLimitMs);
        ConfigStatus status;
        for (;;) {
            status = getConfigStatus();
            if (status.bytesWanted != 0) writeAll(kZeroPadding, std::min(status.bytesWanted, kPaddingStep));
            if (!(status.configFlags & ConfigStatus::kConfigBusy)) break;
            if (std::chrono::steady_clock::now() >= giveUp) QV_THROW(QVIOProgramFailedException());
            if (status.bytesWanted == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }

        if (status.picFlags & ConfigStatus::kPicDone) return;
        if (!retry) {
            if (key == 1) return;
            QV_THROW(QVIOProgramFailedException());
        }
        if (repeats >= kMaxProgramRepeats) QV_THROW(QVIOProgramFailedException());
        if (status.picFlags & ConfigStatus::kPicInit) {
            retry = false;  // configured without CRC error but no design started: once more
            continue;
        }
        QVLOG(logging::error) << boost::format(
                                     "Detected a missing CONFIG_STATUS_BIT_INIT which indicates a CRC error during "
                                     "programming (PIC flags 0x%02x). Will retry calibration.") %
                                     status.picFlags;
        reset();
    }
}

}  // namespace impl
}  // namespace tarnix
