#pragma once
#include "core/tree/NodeProperty.h"
#include "engine/DeviceStateEPNode.h"
#include "engine/FeatureInitMap.h"
#include "engine/nodedefs/TabledNodeDef.h"
#include "groups/common/InstanceNodeDef.h"

#include <cstdint>
#include <memory>
#include <vector>

// The signal inputs below DEV/SIGINS: per input its range in volts, AC
// coupling, 50 Ohm termination and differential mode.
//
// The range register holds a gain setting. Instruments without a hardware
// revision (formula mode) take an 8-bit gain code whose gain follows a closed
// formula, corrected per code by a calibration factor; the others (table
// mode) take an entry of a gain-range table per input and coupling. The
// instrument delivers the factors or tables through its command mailbox; until
// then factors of 1.0 and a built-in table serve.
namespace tarnix {
namespace NodeDefs {
namespace LQ3 {

struct SigIns : PlainNodeDef<SigIns, 12, 133> {
    static constexpr const char* name = "SIGINS";
    static constexpr HelpItem helpItems[] = {helpText("short", "Signal Input nodes.")};

    struct Instance : InstanceNodeDef<Instance, 134> {
        static constexpr const char* name = nullptr;
        static constexpr HelpItem helpItems[] = {helpText("short", "Nodes of a signal input.")};

        struct Range : PlainNodeDef<Range, 1, 135> {
            static constexpr const char* name = "RANGE";
            static constexpr HelpItem helpItems[] = {helpFlag("setting", true),
                                                     helpInteger("precision", 5),
                                                     helpText("short", "Voltage range for the signal input."),
                                                     helpText("read", "double"),
                                                     helpText("write", "double"),
                                                     helpText("unit", "V"),
                                                     helpDouble("from", 0.0001),
                                                     helpDouble("to", 2.0),
                                                     helpDouble("default", 1.2)};
        };
        struct AC : PlainNodeDef<AC, 2, 136> {
            static constexpr const char* name = "AC";
            static const std::vector<NodeValueListEntry>& values();
            static constexpr HelpItem helpItems[] = {
                helpFlag("setting", true),
                helpText("short", "Boolean value setting for AC coupling of the Signal Input."),
                helpText("read", "integer"),
                helpText("write", "integer"),
                helpText("unit", "Boolean"),
                helpInteger("default", 0),
                helpValues("values", &values)};
        };
        struct Imp50 : PlainNodeDef<Imp50, 3, 137> {
            static constexpr const char* name = "IMP50";
            static const std::vector<NodeValueListEntry>& values();
            static constexpr HelpItem helpItems[] = {
                helpFlag("setting", true),
                helpText("short", "Boolean value enabling 50 Ohm input impedance termination."),
                helpText("read", "integer"),
                helpText("write", "integer"),
                helpText("unit", "Boolean"),
                helpInteger("default", 0),
                helpValues("values", &values)};
        };
        struct Diff : PlainNodeDef<Diff, 4, 138> {
            static constexpr const char* name = "DIFF";
            static const std::vector<NodeValueListEntry>& values();
            static constexpr HelpItem helpItems[] = {
                helpFlag("setting", true),
                helpText("short", "Boolean value switching differential input mode."),
                helpText("read", "integer"),
                helpText("write", "integer"),
                helpText("unit", "Boolean"),
                helpInteger("default", 0),
                helpValues("values", &values)};
        };
    };
};

}  // namespace LQ3
}  // namespace NodeDefs

struct DeviceState;

// Registers of one signal input's block.
namespace sigin {
constexpr int32_t kRangeOffset = 0x00;
constexpr int32_t kAcOffset = 0x04;
constexpr int32_t kImp50Offset = 0x08;
constexpr int32_t kDiffOffset = 0x0C;
constexpr uint32_t kLedOffset = 0x10;
constexpr uint32_t kRangeAuxOffset = 0x18;  // table mode: the selected entry's auxiliary word
// Inputs with gain state of their own (calibration, tables, coupling).
constexpr uint32_t kModelInputs = 2;
constexpr uint32_t kGainSlots = 8;  // inputs whose gain other groups can read
constexpr double kLargestRange = 2.0;
}  // namespace sigin

// A range word and the auxiliary word that goes with it (table mode).
struct SigInRangeWords {
    uint32_t word = 0;
    uint32_t auxWord = 0;
};

// Feature code 5, the signal inputs: a record of one register block with one
// instance per input. Also asks the instrument for its gain data and arms the
// 50 Ohm forcing after the FPGA was configured.
QV_STATUS SigInsFeatureInit(DeviceAccess& device, DeviceStateNodeGroup* group, const TreeNode::Ptr& groupNode,
                            uint16_t version, const std::vector<Feature*>& items, int count);

// RANGE: the client sees the range in volts that the stored word realises.
QV_STATUS SigInRangeReadData(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session);
QV_STATUS SigInRangeWriteNumber(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session,
                                double value, int64_t integer);
QV_STATUS SigInRangeUpdateData(DeviceAccess& device, const EPNodePtr& ep, const uint8_t* data, uint32_t length);
// AC: a boolean whose changes switch the input's gain sub-table.
QV_STATUS SigInAcWriteNumber(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session,
                             double value, int64_t integer);
QV_STATUS SigInAcUpdateData(DeviceAccess& device, const EPNodePtr& ep, const uint8_t* data, uint32_t length);
// IMP50's device write: 50 Ohm while the start-up forcing is on, else the setting.
QV_STATUS SigInImp50WriteData(DeviceAccess& device, const EPNodePtr& ep, uint32_t address);

// The gain model.
bool SigInTableMode(const DeviceState& state);
// RANGE endpoint of input 0 or 1; empty for other inputs or when there is none.
EPNodePtr SigInRangeEndpoint(DeviceAccess& device, uint32_t input);
// Its stored word; 0xFFFFFFFF without the endpoint.
uint32_t SigInRangeWord(DeviceAccess& device, uint32_t input);
// The gain a range word gives on the input (0.0: no valid setting).
double SigInWordGain(const DeviceState& state, uint32_t input, uint32_t word);
// The formula gain of a gain code, without its calibration factor.
double SigInFormulaGain(uint32_t word);
// The words that realise the range nearest to `range` volts (at most 2.0).
SigInRangeWords SigInRangeToWord(const DeviceState& state, uint32_t input, double range);
// The words that select, in sub-table `subTable`, the entry at the position
// `word` selects (the last entry when the table is shorter).
SigInRangeWords SigInRemapWord(const DeviceState& state, uint32_t input, uint32_t word, uint32_t subTable);
// Table mode, inputs 0 and 1: writes the auxiliary word to the input's range
// auxiliary register at once, outside the endpoints.
void SigInWriteRangeAux(DeviceAccess& device, uint32_t input, uint32_t auxWord);
// Stores the gain of an input for the groups that scale by it.
void SigInSetGain(DeviceState& state, uint32_t input, double gain);
// Makes `words` the range setting of input 0 or 1 whose word was `oldWord`
// (showing `oldRange`): stores the gain, and when the input has its RANGE leaf,
// writes a changed word to the instrument and tells subscribers of a changed range.
void SigInTakeRangeWord(DeviceAccess& device, uint32_t input, uint32_t oldWord, double oldRange,
                        const SigInRangeWords& words);
// Switches input 0 or 1 to the sub-table of its coupling (AC register word)
// and keeps its range word and gain in step.
QV_STATUS SigInCouplingChanged(DeviceAccess& device, uint32_t input, uint32_t couplingWord);

// Gain data from the instrument, requested by the init: eight calibration
// blocks (command 13, formula mode) or the gain-range table in 32 parts
// (command 16, table mode). Time-outs ask again, without limit.
//
// Every init starts a new round of requests. A request carries the block or
// part it asks for and the round it belongs to; an answer or time-out of an
// earlier round (a feature list processed again meanwhile) is ignored.
struct GainRequestTag {
    uint32_t index = 0;
    uint32_t round = 0;
};
// The user data of a request of the current round.
std::shared_ptr<void> SigInGainRequestTag(const DeviceState& state, uint32_t index);
QV_STATUS SigInRequestGainCalibration(DeviceAccess& device);
QV_STATUS SigInRequestGainRangeTable(DeviceAccess& device);
void GainRequestComplete(DeviceAccess& device, const uint8_t* reply, uint32_t length,
                         const std::shared_ptr<void>& user);
void GainRequestTimeout(DeviceAccess& device, const std::shared_ptr<void>& user);
void GainRangeRequestComplete(DeviceAccess& device, const uint8_t* reply, uint32_t length,
                              const std::shared_ptr<void>& user);
void GainRangeRequestTimeout(DeviceAccess& device, const std::shared_ptr<void>& user);
// Shows the calibrated range of an input once its four blocks have arrived.
QV_STATUS SigInRangeRecalibrate(DeviceAccess& device, uint32_t input);

}  // namespace tarnix
