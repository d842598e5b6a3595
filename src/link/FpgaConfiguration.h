#pragma once

namespace tarnix {
namespace impl {
class IOLQ3_USBImpl;
}

// Whether the instrument's FPGA answers like a configured design: data that
// comes unasked, or an answer to a read of the feature-list aperture.
bool isBitstreamRunning(impl::IOLQ3_USBImpl& usb);

// Resets the controller, clears the FPGA and configures it from the embedded
// resource "bitstream". Returns true when a design was configured, false when
// the program carries no such resource. Failures leave as QVDeviceException
// (QVBitstreamException, QVIOProgramFailedException, or "Device bitstream
// programming was not successful. Will restart the device ...").
bool programBitstream(impl::IOLQ3_USBImpl& usb);

}  // namespace tarnix
