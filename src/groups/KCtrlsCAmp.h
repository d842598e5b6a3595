#pragma once
#include "engine/DeviceStateEPNode.h"
#include "engine/FeatureInitMap.h"

#include <array>
#include <cstdint>

// The current amplifier on a KCtrl port: shunt resistor R, GAIN, DC coupling
// and SINGLEENDED inputs, all held in one control word of the port's register.
// The node values live in the server; every change is written as the whole
// word, and the register is read back once when the amplifier is found.
//
// Each leaf keeps an unsigned 64-bit stored value; each keeps the endpoint ids
// of R, GAIN, DC and SINGLEENDED (in this order) in its byte buffer, and R
// alone is bound to the register.
namespace tarnix {

// The shunt resistors by index, in ohms; index 0 is open (high ohmic).
constexpr std::array<uint32_t, 7> kCAmpResistors = {0, 10, 100, 1000, 10000, 100000, 1000000};

// Control word bits.
enum CAmpControlBits : uint32_t {
    CAMP_RESISTOR_MASK = 0x3F,  // bit k-1 for resistor index k
    CAMP_SINGLE_ENDED = 0x40,
    CAMP_DC = 0x180,            // both bits are set; reading back takes bit 7
    CAMP_DC_READBACK = 0x80,
    CAMP_GAIN_10X = 0x200,
};

constexpr uint32_t kCAmpValueBytes = 8;
constexpr uint32_t kCAmpRegisterBytes = 8;

// Leaf builder for a port whose type word names a current amplifier.
QV_STATUS CAmpInit(DeviceAccess& device, DeviceStateNodeGroup* group, const TreeNode::Ptr& amplifierNode,
                   Feature* port);

// The index of the table resistor nearest to `ohms` (a value on a midpoint
// takes the higher resistor).
uint32_t CAmpNearestResistor(int64_t ohms);
// The resistor index of a control word: its lowest set bit among bits 0-5,
// counted from 1; 0 when none is set.
uint32_t CAmpResistorIndexFromBits(uint32_t word);
// The control word of the four stored values.
uint32_t CAmpControlWord(uint64_t resistor, uint64_t gain, uint64_t dc, uint64_t singleEnded);

QV_STATUS CAmpResistorReadData(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session);
QV_STATUS CAmpGainReadData(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session);
QV_STATUS CAmpCouplingReadData(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session);
// Answers a double, where the other leaves answer integers.
QV_STATUS CAmpSingleEndedReadData(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session);

QV_STATUS CAmpResistorWriteNumber(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session,
                                  double value, int64_t integer);
QV_STATUS CAmpGainWriteNumber(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session,
                              double value, int64_t integer);
QV_STATUS CAmpSwitchWriteNumber(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session,
                                double value, int64_t integer);

// R's register (8 bytes): decoded into all four leaves.
QV_STATUS CAmpControlUpdateData(DeviceAccess& device, const EPNodePtr& ep, const uint8_t* data, uint32_t length);
// GAIN, DC, SINGLEENDED: take a new stored value (8 bytes) and push it when it changed.
QV_STATUS CAmpGainUpdateData(DeviceAccess& device, const EPNodePtr& ep, const uint8_t* data, uint32_t length);
QV_STATUS CAmpSwitchUpdateData(DeviceAccess& device, const EPNodePtr& ep, const uint8_t* data, uint32_t length);
// R's register write: the control word in each 16-bit part of 8 bytes.
QV_STATUS CAmpControlWriteData(DeviceAccess& device, const EPNodePtr& ep, uint32_t address);

}  // namespace tarnix
