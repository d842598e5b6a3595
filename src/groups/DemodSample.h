#pragma once
#include "core/QVStatus.h"
#include "engine/DeviceStateEPNode.h"

#include <cstdint>

// The demodulator sample stream: each 40-byte sample packet of the instrument
// becomes a DataDemodSample in the stream buffer of DEMODS/n/SAMPLE, and the
// samples of demodulators 3k, 3k+1 and 3k+2 are combined into the modulation
// samples of MODS/k/SAMPLE.
namespace tarnix {

class DeviceAccess;

constexpr uint32_t kDemodSamplePacketBytes = 40;

// The UpdateDataFunc of DEMODS/n/SAMPLE (bound to both sample slots 2n and 2n+1).
QV_STATUS DemodSampleUpdateData(DeviceAccess& device, const EPNodePtr& ep, const uint8_t* data, uint32_t length);
// A status block arrived with `lost`, its demod-data-lost bit: confirms or
// drops the gaps the samples showed, and logs the loss when a line is due.
void DemodSampleLossStatus(DeviceAccess& device, bool lost);
// The ReadDataFunc of DEMODS/n/SAMPLE and MODS/k/SAMPLE: the latest sample.
QV_STATUS DemodSampleReadData(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session);

}  // namespace tarnix
