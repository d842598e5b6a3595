#pragma once
#include "engine/DeviceStateEPNode.h"
#include "engine/FeatureInitMap.h"
#include "engine/nodedefs/TabledNodeDef.h"
#include "groups/auxdio/HandlerTypes.h"
#include "groups/common/InstanceNodeDef.h"

namespace tarnix {
namespace NodeDefs {
namespace LQ3 {

// The sync-signal source of one DIO bit: the derived type gives its name and
// its "short" text.
template <class Def, int32_t Order, int32_t TypeId>
struct SyncSelectNodeDef : PlainNodeDef<Def, Order, TypeId> {
    static void help(const TreeNode::Ptr& node) {
        const HelpItem items[] = {helpFlag("setting", true), helpText("short", Def::shortText),
                                  helpText("read", "integer"), helpText("write", "integer"),
                                  helpInteger("from", 0),      helpInteger("to", 8),
                                  helpInteger("default", 8)};
        applyHelpItems(*node, items, sizeof items / sizeof items[0]);
    }
};

struct DIOs : PlainNodeDef<DIOs, 15, 160> {
    static constexpr const char* name = "DIOS";
    static constexpr HelpItem helpItems[] = {helpText("short", "DIO nodes.")};

    struct Instance : InstanceNodeDef<Instance, 161> {
        static constexpr const char* name = nullptr;
        static constexpr HelpItem helpItems[] = {helpText("short", "Nodes of a DIO.")};

        struct ExtClk : PlainNodeDef<ExtClk, 1, 162> {
            static constexpr const char* name = "EXTCLK";
            static const std::vector<NodeValueListEntry>& values();
            static constexpr HelpItem helpItems[] = {
                helpFlag("setting", true),
                helpText("short", "Selects whether an external clock source should be used."),
                helpText("detailed",
                         "The external clock needs to be applied to the DIO connector when this node is set to 1."),
                helpText("read", "integer"),
                helpText("write", "integer"),
                helpText("unit", "Boolean"),
                helpInteger("default", 0),
                helpValues("values", values)};
        };
        struct Decimation : PlainNodeDef<Decimation, 2, 163> {
            static constexpr const char* name = "DECIMATION";
            static constexpr HelpItem helpItems[] = {helpFlag("setting", true),
                                                     helpText("short", "Decimation for the sample rate of the DIO."),
                                                     helpText("read", "integer"),
                                                     helpText("write", "integer"),
                                                     helpInteger("from", 0),
                                                     helpInteger("to", 65535),
                                                     helpInteger("default", 256)};
        };
        struct Drive : PlainNodeDef<Drive, 3, 164> {
            static constexpr const char* name = "DRIVE";
            static const std::vector<NodeValueListEntry>& values();
            static constexpr HelpItem helpItems[] = {helpFlag("setting", true),
                                                     helpText("short", "Selects if the outputs should be driven."),
                                                     helpText("read", "integer"),
                                                     helpText("write", "integer"),
                                                     helpInteger("from", 0),
                                                     helpInteger("to", 3),
                                                     helpInteger("default", 0),
                                                     helpValues("values", values)};
        };
        struct Output : PlainNodeDef<Output, 4, 165> {
            static constexpr const char* name = "OUTPUT";
            static constexpr HelpItem helpItems[] = {helpFlag("setting", true),
                                                     helpText("short", "Bits to output."),
                                                     helpText("read", "integer"),
                                                     helpText("write", "integer"),
                                                     helpInteger("from", 0),
                                                     helpInteger("to", 65535),
                                                     helpInteger("default", 0)};
        };
        struct SyncSelect0 : SyncSelectNodeDef<SyncSelect0, 5, 166> {
            static constexpr const char* name = "SYNCSELECT0";
            static constexpr const char* shortText = "Source to output the sync signal on bit0.";
        };
        struct SyncSelect1 : SyncSelectNodeDef<SyncSelect1, 6, 167> {
            static constexpr const char* name = "SYNCSELECT1";
            static constexpr const char* shortText = "Source to output the sync signal on bit1.";
        };
        struct Input : PlainNodeDef<Input, 7, 168> {
            static constexpr const char* name = "INPUT";
            static constexpr HelpItem helpItems[] = {helpText("short", "Samples of the input."),
                                                     helpText("read", "diosample"),
                                                     helpText("stream", "diosample")};
        };
    };
};

}  // namespace LQ3
}  // namespace NodeDefs

// Feature code 10, the digital I/O: a record of two register blocks, the
// settings of each port (six words) and its two input sample slots (twice the
// instances of the first). DIOS/n has EXTCLK, DECIMATION, DRIVE, OUTPUT,
// SYNCSELECT0, SYNCSELECT1 and the stream INPUT, fed by both sample slots.
QV_STATUS DIOsFeatureInit(DeviceAccess& device, DeviceStateNodeGroup* group, const TreeNode::Ptr& groupNode,
                          uint16_t version, const std::vector<Feature*>& items, int count);

// DECIMATION: 1..65535; a word of 0 from the instrument shows as 1.
extern const ReadDataHandler DIODecimationReadData;
extern const WriteNumberHandler DIODecimationWriteNumber;
extern const UpdateDataHandler DIODecimationUpdateData;

// DRIVE: bit 0 drives the lower, bit 1 the higher 16 bits; the register holds
// the two bits inverted.
extern const ReadDataHandler DIODriveReadData;
extern const WriteNumberHandler DIODriveWriteNumber;
extern const UpdateDataHandler DIODriveUpdateData;

// OUTPUT: the 16 bits the port outputs.
extern const ReadDataHandler DIOOutputReadData;
extern const WriteNumberHandler DIOOutputWriteNumber;
extern const UpdateDataHandler DIOOutputUpdateData;

// SYNCSELECT0/1: a demodulator (below 8 and present) whose sync signal the bit
// gives out, or 8 for none.
QV_STATUS DIOSyncSelectReadData(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session);
QV_STATUS DIOSyncSelectWriteNumber(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session,
                                   double value, int64_t integer);
QV_STATUS DIOSyncSelectUpdateData(DeviceAccess& device, const EPNodePtr& ep, const uint8_t* data, uint32_t length);

// INPUT: each 12-byte packet (48-bit time, 2 unused bytes, the 32 input bits)
// becomes one DataDIOSample of the stream; the latest one is the value a read
// replies.
extern const ReadDataHandler DIOSampleReadData;
QV_STATUS DIOSampleUpdateData(DeviceAccess& device, const EPNodePtr& ep, const uint8_t* data, uint32_t length);

}  // namespace tarnix
