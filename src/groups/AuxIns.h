#pragma once
#include "engine/DeviceStateEPNode.h"
#include "engine/FeatureInitMap.h"
#include "engine/nodedefs/TabledNodeDef.h"
#include "groups/auxdio/HandlerTypes.h"
#include "groups/common/InstanceNodeDef.h"

namespace tarnix {
namespace NodeDefs {
namespace LQ3 {

struct AuxIns : PlainNodeDef<AuxIns, 16, 169> {
    static constexpr const char* name = "AUXINS";
    static constexpr HelpItem helpItems[] = {helpText("short", "Nodes of auxiliary inputs.")};

    struct Instance : InstanceNodeDef<Instance, 170> {
        static constexpr const char* name = nullptr;
        static constexpr HelpItem helpItems[] = {helpText("short", "Node for an aux in.")};

        struct Averaging : PlainNodeDef<Averaging, 1, 171> {
            static constexpr const char* name = "AVERAGING";
            static constexpr HelpItem helpItems[] = {
                helpFlag("setting", true),      helpText("short", "Averaging of the samples."),
                helpText("read", "integer"),    helpText("write", "integer"),
                helpInteger("from", 1),         helpInteger("to", 32768),
                helpInteger("default", 256)};
        };
        struct Sample : PlainNodeDef<Sample, 2, 172> {
            static constexpr const char* name = "SAMPLE";
            static constexpr HelpItem helpItems[] = {helpText("short", "Aux in samples."),
                                                     helpText("read", "auxinsample"),
                                                     helpText("stream", "auxinsample")};
        };
    };
};

}  // namespace LQ3
}  // namespace NodeDefs

// Feature code 9, the auxiliary inputs: a record of two register blocks, the
// settings of each aux-input block and its two sample slots (twice the
// instances of the first). AUXINS/n has AVERAGING and the stream SAMPLE, fed
// by both sample slots.
QV_STATUS AuxInsFeatureInit(DeviceAccess& device, DeviceStateNodeGroup* group, const TreeNode::Ptr& groupNode,
                            uint16_t version, const std::vector<Feature*>& items, int count);

// AVERAGING: the register holds the exponent e of the averaging 2^e, 0..15.
// Written values round down to a power of two.
extern const ReadDataHandler AuxInAveragingReadData;
extern const WriteNumberHandler AuxInAveragingWriteNumber;
extern const UpdateDataHandler AuxInAveragingUpdateData;

// SAMPLE: each 12-byte packet (48-bit time, two signed 16-bit channels spanning
// -10..10 V) becomes one DataAuxInSample of the stream; the latest one is the
// value a read replies.
extern const ReadDataHandler AuxInSampleReadData;
QV_STATUS AuxInSampleUpdateData(DeviceAccess& device, const EPNodePtr& ep, const uint8_t* data, uint32_t length);

// The exponent stored for a client's averaging value, and the value of a stored exponent.
uint32_t AuxInAveragingExponent(int64_t averaging);
int64_t AuxInAveragingOf(uint32_t exponent);
// Volts of a raw channel value.
double AuxInChannelVolts(int16_t raw);

}  // namespace tarnix
