#pragma once
#include "engine/DeviceStateEPNode.h"
#include "engine/FeatureInitMap.h"

#include <array>
#include <cstdint>
#include <memory>

// The transimpedance amplifier on a KCtrl port: a bias voltage (BIASOUT), an
// external-bias switch (EXTBIAS) and, per channel 0 and 1, CURRENTGAIN, DC,
// VOLTAGEGAIN and OFFSET. Its settings are not registers: the instrument's
// firmware talks to the amplifier, reached through mailbox commands (21 write
// a parameter, 22 read one back, 23 poll the update state, 24 initialise a
// port). Each leaf is one parameter; its endpoint keeps the parameter's raw
// 32-bit word and, in its byte buffer, the port index.
namespace tarnix {

enum TAmpCommand : uint32_t {
    CMD_TAMP_WRITE = 21,  // payload: port, parameter code, raw word
    CMD_TAMP_READ = 22,   // payload: port, parameter code; reply: valid flag, raw word
    CMD_TAMP_POLL = 23,   // reply: one update-state word per amplifier, 0 when settled
    CMD_TAMP_INIT = 24,   // argument: port
};

// Parameter codes; the channel parameters of channel 1 are those of channel 0 plus 4.
enum TAmpParameter : uint32_t {
    TAMP_EXTBIAS = 0,
    TAMP_BIASOUT = 1,
    TAMP_CURRENTGAIN = 2,
    TAMP_VOLTAGEGAIN = 3,
    TAMP_DC = 4,
    TAMP_OFFSET = 5,
};
constexpr uint32_t kTAmpChannelCodeStep = 4;
constexpr uint32_t kTAmpChannels = 2;

constexpr std::array<int64_t, 7> kTAmpGainTable = {100, 1000, 10000, 100000, 1000000, 10000000, 100000000};

// Default raw words: 0 V, gain 1000, DC mode, voltage gain 1.
constexpr uint32_t kTAmpMidScale = 0x7fff;
constexpr uint32_t kTAmpDefaultCurrentGain = 1;
constexpr uint32_t kTAmpDefaultDC = 1;
constexpr uint32_t kTAmpDefaultVoltageGain = 1;

// Conversions between node values and raw words. Doubles are clamped to the
// parameter's range (NaN counts as 0 V, though the write handlers keep the
// setting for a NaN); integers go to the nearest allowed word.
double TAmpBiasOutFromRaw(uint32_t raw);
uint32_t TAmpBiasOutToRaw(double volts);
double TAmpOffsetFromRaw(uint32_t raw);
uint32_t TAmpOffsetToRaw(double volts);
int64_t TAmpCurrentGainFromRaw(uint32_t raw);
uint32_t TAmpCurrentGainToRaw(int64_t gain);
int64_t TAmpVoltageGainFromRaw(uint32_t raw);
uint32_t TAmpVoltageGainToRaw(int64_t gain);

// Leaf builder for a port whose type word names a transimpedance amplifier.
QV_STATUS TAmpInit(DeviceAccess& device, DeviceStateNodeGroup* group, const TreeNode::Ptr& amplifierNode,
                   Feature* port);
QV_STATUS TAmpChannelInit(DeviceAccess& device, DeviceStateNodeGroup* group, const TreeNode::Ptr& channelNode,
                          Feature* port, uint32_t channel);

QV_STATUS TAmpBiasOutReadData(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session);
QV_STATUS TAmpOffsetReadData(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session);
QV_STATUS TAmpCurrentGainReadData(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session);
QV_STATUS TAmpVoltageGainReadData(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session);
// Answers a double, where its write replies and pushes are integers.
QV_STATUS TAmpExtBiasReadData(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session);

QV_STATUS TAmpBiasOutWriteNumber(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session,
                                 double value, int64_t integer);
QV_STATUS TAmpOffsetWriteNumber(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session,
                                double value, int64_t integer);
QV_STATUS TAmpCurrentGainWriteNumber(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session,
                                     double value, int64_t integer);
QV_STATUS TAmpVoltageGainWriteNumber(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session,
                                     double value, int64_t integer);

QV_STATUS TAmpBiasOutUpdateData(DeviceAccess& device, const EPNodePtr& ep, const uint8_t* data, uint32_t length);
QV_STATUS TAmpOffsetUpdateData(DeviceAccess& device, const EPNodePtr& ep, const uint8_t* data, uint32_t length);
QV_STATUS TAmpCurrentGainUpdateData(DeviceAccess& device, const EPNodePtr& ep, const uint8_t* data, uint32_t length);
QV_STATUS TAmpVoltageGainUpdateData(DeviceAccess& device, const EPNodePtr& ep, const uint8_t* data, uint32_t length);

// The WriteDataFunc of the leaf with parameter `code`: queues command 21 and
// asks for an update poll.
WriteDataFunc TAmpWriteData(uint32_t code);
// Queues command 22 for the leaf; its reply reaches the leaf's update handler.
QV_STATUS TAmpRequestValue(DeviceAccess& device, const EPNodePtr& ep, uint32_t code);
void TAmpRequestValueComplete(DeviceAccess& device, const uint8_t* reply, uint32_t length,
                              const std::shared_ptr<void>& user);
void TAmpRequestValueTimeout(DeviceAccess& device, const std::shared_ptr<void>& user);
// Asks for an update poll: completion of command 24, time-out of command 23.
void TAmpRequestUpdate(DeviceAccess& device);

}  // namespace tarnix
