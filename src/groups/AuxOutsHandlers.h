#pragma once
#include "core/QVStatus.h"
#include "engine/DeviceStateEPNode.h"

#include <cstdint>

// The handlers of an auxiliary output's leaves. OUTPUTSELECT and DEMODSELECT
// share the output-select word (groups/AuxOutsWords.h), which OUTPUTSELECT
// holds; the leaves find each other through the links of
// groups/auxdio/AuxOutLinks.h. Write handlers use the integer form of the
// client's value for OUTPUTSELECT and DEMODSELECT and the double for SCALE and
// OFFSET.
namespace tarnix {

class DeviceAccess;

// VALUE: read only, in volts.
QV_STATUS AuxOutValueReadData(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session);
QV_STATUS AuxOutValueUpdateData(DeviceAccess& device, const EPNodePtr& ep, const uint8_t* data, uint32_t length);

// OUTPUTSELECT: the signal code. Choosing Manual resets OFFSET to 0 V; a change
// of the shown scale is pushed on SCALE. Every register write of the word is
// followed by the PID update strobe when the PID block has one.
QV_STATUS AuxOutOutputSelectReadData(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session);
QV_STATUS AuxOutOutputSelectWriteNumber(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session,
                                        double value, int64_t integer);
QV_STATUS AuxOutOutputSelectUpdateData(DeviceAccess& device, const EPNodePtr& ep, const uint8_t* data,
                                       uint32_t length);
QV_STATUS AuxOutOutputSelectWriteData(DeviceAccess& device, const EPNodePtr& ep, uint32_t address);

// DEMODSELECT: the demodulator index, kept in the OUTPUTSELECT word (which is
// what the instrument receives). 0x4003 when that leaf is missing.
QV_STATUS AuxOutDemodSelectReadData(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session);
QV_STATUS AuxOutDemodSelectWriteNumber(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session,
                                       double value, int64_t integer);

// SCALE: the shown scale (groups/AuxOutsScale.h).
QV_STATUS AuxOutScaleReadData(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session);
QV_STATUS AuxOutScaleWriteNumber(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session,
                                 double value, int64_t integer);
QV_STATUS AuxOutScaleUpdateData(DeviceAccess& device, const EPNodePtr& ep, const uint8_t* data, uint32_t length);

// OFFSET: volts added after scaling, -2560..2560.
QV_STATUS AuxOutOffsetReadData(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session);
QV_STATUS AuxOutOffsetWriteNumber(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session,
                                  double value, int64_t integer);
QV_STATUS AuxOutOffsetUpdateData(DeviceAccess& device, const EPNodePtr& ep, const uint8_t* data, uint32_t length);

}  // namespace tarnix
