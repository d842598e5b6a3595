#pragma once
#include "core/QVStatus.h"
#include "engine/DeviceStateEPNode.h"

#include <cstdint>
#include <optional>
#include <vector>

// The scale of an auxiliary output as clients see it. The SCALE register is a
// factor on the signal that OUTPUTSELECT and DEMODSELECT choose; its shown value
// also depends on the gain of the input that the chosen demodulator listens
// to. So handlers of other groups that change a demodulator's input index
// (groups.demodInputIndex) or a signal input's gain (groups.auxOutDerived)
// keep the outputs' subscribers informed like this:
//
//   const AuxOutScaleSnapshot before = AuxOutsScaleFactors(device);
//   ... change the index or the gain ...
//   return AuxOutsRefreshScale(device, before);
namespace tarnix {

class DeviceAccess;
struct DeviceState;

// The gain of the input that demodulator `demodIndex` listens to: the signal
// input's gain, 1.0 for an aux input or DIO signal, 0.0 for none.
double AuxOutInputGain(const DeviceState& state, uint32_t demodIndex);

// The shown value of a scale register under an output-select word.
double AuxOutScaleOfWords(const DeviceState& state, int32_t scale, uint32_t selectWord);
// The scale register that shows `value` under an output-select word; none
// while the gain of the chosen input is unknown (AuxOutScaleRegister).
std::optional<int32_t> AuxOutScaleRegisterOfWords(const DeviceState& state, double value, uint32_t selectWord);

// The scale register that shows `value` on a SCALE endpoint (0 when its
// OUTPUTSELECT is missing; none while the gain of the chosen input is unknown).
std::optional<int32_t> AuxOutScaleRegisterFor(DeviceAccess& device, const DeviceStateEPNode& scale, double value);
// The value the SCALE endpoint's stored register shows under the word of the
// OUTPUTSELECT that it is linked to (0.0 when that is missing).
double AuxOutScaleOf(DeviceAccess& device, const DeviceStateEPNode& scale);
// The shown value of the SCALE linked (second link) to an OUTPUTSELECT or
// DEMODSELECT endpoint; 0.0 when it is missing.
double AuxOutLinkedScale(DeviceAccess& device, const DeviceStateEPNode& select);

// The shown value of every SCALE endpoint of the device, in the order of
// auxOutScaleEpIds; 0.0 for an endpoint that no longer exists.
using AuxOutScaleSnapshot = std::vector<double>;
AuxOutScaleSnapshot AuxOutsScaleFactors(DeviceAccess& device);

// Pushes the shown value of every SCALE endpoint that now differs from the
// snapshot. QV_OVERFLOW at once when the output FIFO is full.
QV_STATUS AuxOutsRefreshScale(DeviceAccess& device, const AuxOutScaleSnapshot& before);

// Pushes the shown value of the SCALE linked to an OUTPUTSELECT or DEMODSELECT
// endpoint, changed or not; 0 when there is none.
QV_STATUS AuxOutsPushScale(DeviceAccess& device, const EPNodePtr& select);

}  // namespace tarnix
