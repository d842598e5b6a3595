#pragma once
#include "core/QVStatus.h"
#include "engine/DeviceStateEPNode.h"

#include <cstddef>
#include <cstdint>

// Value handlers of the PID controllers. Four leaves (INPUT, INPUTCHANNEL,
// OUTPUT, OUTPUTCHANNEL) and ENABLE are fields of one control register held
// by INPUT; TIPPROTECT/ENABLE and TIPPROTECT/PLL share the TipProtect control
// word held by TIPPROTECT/ENABLE; the ACTIVE leaves of all controllers show
// bits of one status word held by controller 0's ACTIVE; RATE shows one rate
// register for every controller. The leaves find their holders through the
// endpoint-id lists in their byte buffers.
namespace tarnix {

class DeviceAccess;

// Entries of the controller list given to the 14 leaves that see the control
// register; entry 0 holds the register.
enum PidControllerListEntry : std::size_t {
    kPidListInput = 0,
    kPidListInputChannel = 1,
    kPidListOutput = 2,
    kPidListOutputChannel = 3,
    kPidListP = 4,
    kPidListI = 5,
    kPidListD = 6,
    kPidListSetPoint = 7,
    kPidListError = 8,
    kPidListCenter = 9,
    kPidListRange = 10,
    kPidListShift = 11,
    kPidListEnable = 12,
    kPidListRate = 13,
    kPidControllerListSize = 14,
};

// Entries of the TipProtect list: the word's holder first.
enum PidTipProtectListEntry : std::size_t { kPidTipListEnable = 0, kPidTipListPll = 1, kPidTipProtectListSize = 2 };

// The ACTIVE leaves of up to 16 controllers, by controller index.
constexpr std::size_t kPidActiveListSize = 16;

// Control update rate of a rate-register count (ticks of 210 MHz per 5000 updates).
double PidRateOfCount(uint32_t count);

// The device-write handler of every writable PID register: the register
// write, then the update strobe that makes the controllers take it.
QV_STATUS PIDWriteData(DeviceAccess& device, const EPNodePtr& ep, uint32_t address);

// The control register.
QV_STATUS PIDInputReadData(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session);
QV_STATUS PIDInputWriteNumber(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session,
                              double value, int64_t integer);
QV_STATUS PIDInputUpdateData(DeviceAccess& device, const EPNodePtr& ep, const uint8_t* data, uint32_t length);
QV_STATUS PIDInputChannelReadData(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session);
QV_STATUS PIDInputChannelWriteNumber(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session,
                                     double value, int64_t integer);
QV_STATUS PIDOutputReadData(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session);
QV_STATUS PIDOutputWriteNumber(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session,
                               double value, int64_t integer);
QV_STATUS PIDOutputChannelReadData(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session);
QV_STATUS PIDOutputChannelWriteNumber(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session,
                                      double value, int64_t integer);
QV_STATUS PIDEnableReadData(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session);
QV_STATUS PIDEnableWriteNumber(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session,
                               double value, int64_t integer);

// Registers holding an IEEE-754 single.
QV_STATUS PIDFloatReadData(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session);
QV_STATUS PIDFloatWriteNumber(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session,
                              double value, int64_t integer);
QV_STATUS PIDFloatUpdateData(DeviceAccess& device, const EPNodePtr& ep, const uint8_t* data, uint32_t length);

QV_STATUS PIDSetPointSelectUpdateData(DeviceAccess& device, const EPNodePtr& ep, const uint8_t* data,
                                      uint32_t length);

QV_STATUS PIDRateReadData(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session);
QV_STATUS PIDRateUpdateData(DeviceAccess& device, const EPNodePtr& ep, const uint8_t* data, uint32_t length);

// TipProtect: bit 31 of its control word enables it, bits 27-30 name the PLL.
QV_STATUS PIDTipProtectEnableReadData(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session);
QV_STATUS PIDTipProtectEnableWriteNumber(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq,
                                         uint16_t session, double value, int64_t integer);
QV_STATUS PIDTipProtectEnableUpdateData(DeviceAccess& device, const EPNodePtr& ep, const uint8_t* data,
                                        uint32_t length);
QV_STATUS PIDTipProtectPLLReadData(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session);
QV_STATUS PIDTipProtectPLLWriteNumber(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session,
                                      double value, int64_t integer);
QV_STATUS PIDTipProtectActiveReadData(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session);
QV_STATUS PIDTipProtectActiveUpdateData(DeviceAccess& device, const EPNodePtr& ep, const uint8_t* data,
                                        uint32_t length);

}  // namespace tarnix
