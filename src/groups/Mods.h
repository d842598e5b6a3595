#pragma once
#include "engine/DeviceStateEPNode.h"
#include "engine/FeatureInitMap.h"
#include "engine/nodedefs/TabledNodeDef.h"
#include "groups/common/InstanceNodeDef.h"

#include <array>
#include <cstdint>
#include <vector>

// The modulators: MODE, SIDEBAND and FMCOEFF select one row of a fixed table
// of modulation modes and make up one 16-byte register image, held by
// FMCOEFF; SAMPLE streams the modulation samples that the demodulator sample
// handler assembles from the samples of demodulators 3n, 3n+1 and 3n+2.
namespace tarnix {
namespace NodeDefs {
namespace LQ3 {

const std::vector<NodeValueListEntry>& ModsModeValues();
const std::vector<NodeValueListEntry>& ModsSidebandValues();

struct Mods : PlainNodeDef<Mods, 9, 78> {
    static constexpr const char* name = "MODS";
    static constexpr HelpItem helpItems[] = {helpText("short", "Modulator option nodes.")};

    struct Instance : InstanceNodeDef<Instance, 79> {
        static constexpr const char* name = nullptr;
        static constexpr HelpItem helpItems[] = {
            helpText("short", "Nodes of a Modulator."),
            helpText("note", "These nodes are only available with installed Modulation-Option.")};

        struct FMCoeff : PlainNodeDef<FMCoeff, 1, 80> {
            static constexpr const char* name = "FMCOEFF";
            static constexpr HelpItem helpItems[] = {
                helpFlag("setting", true),
                helpInteger("precision", 5),
                helpText("short", "Frequency Modulation Coefficient."),
                helpText("note", "this node is only active in FM-mode (MODE=3)."),
                helpText("read", "double"),
                helpText("write", "double"),
                helpDouble("from", 0.0),
                helpDouble("to", 12.56618),
                helpDouble("default", 0.0)};
        };
        struct Mode : PlainNodeDef<Mode, 2, 81> {
            static constexpr const char* name = "MODE";
            static constexpr HelpItem helpItems[] = {
                helpFlag("setting", true),    helpText("short", "Modulation mode."), helpText("read", "integer"),
                helpText("write", "integer"), helpInteger("default", 0),          helpValues("values", ModsModeValues)};
        };
        struct Sideband : PlainNodeDef<Sideband, 3, 82> {
            static constexpr const char* name = "SIDEBAND";
            static constexpr HelpItem helpItems[] = {
                helpFlag("setting", true),    helpText("short", "Sideband selector."), helpText("read", "integer"),
                helpText("write", "integer"), helpInteger("default", 0),
                helpValues("values", ModsSidebandValues)};
        };
        struct Sample : PlainNodeDef<Sample, 4, 83> {
            static constexpr const char* name = "SAMPLE";
            static constexpr HelpItem helpItems[] = {helpText("short", "Modulation Samples."),
                                                     helpText("read", "demodsample"),
                                                     helpText("stream", "demodsample")};
        };
    };
};

}  // namespace LQ3
}  // namespace NodeDefs

// One modulation mode: the mode words of the register image, whether the
// coefficient counts, the MODE and SIDEBAND values it shows (SIDEBAND -1: the
// mode has none) and the kind of sample it streams (0 none, 1 amplitude,
// 2 frequency demodulation).
struct ModModeRow {
    uint32_t w1;
    uint32_t w2;
    uint32_t w3;
    uint32_t fm;
    int32_t mode;
    int32_t sideband;
    const char* label;
    uint32_t sampleKind;
};

constexpr std::size_t kModModes = 8;
extern const std::array<ModModeRow, kModModes> ModModeTable;

// Sample kinds of ModModeRow.
enum ModSampleKind : uint32_t { MOD_SAMPLE_NONE = 0, MOD_SAMPLE_AMPLITUDE = 1, MOD_SAMPLE_FREQUENCY = 2 };

// The row of `mode` (a ModMode entry); the "off" row for one outside the table.
const ModModeRow& ModModeRowOf(int32_t mode);

// The modulation index b from 0 to 2.4 in 1023 equal steps, and the ratio
// J1(b) / J0(b) of each entry (ascending). Built once per process.
constexpr std::size_t kModTableEntries = 1024;
struct ModTables {
    std::array<double, kModTableEntries> index;
    std::array<double, kModTableEntries> ratio;
};
const ModTables& ModulationTables();
// The modulation index whose ratio is `ratio`, interpolated in the tables.
double ModIndexOfRatio(double ratio);

// The value of MODS/n/SAMPLE: three demodulator samples (the carrier slot also
// holds the latest combined sample) and the flags of the filled slots.
struct ModSampleLayout {
    static constexpr uint32_t kCarrier = 0;
    static constexpr uint32_t kCarrierFlag = 64;
    static constexpr uint32_t kFirstSideband = 68;
    static constexpr uint32_t kSecondSideband = 132;
    static constexpr uint32_t kFirstSidebandFlag = 196;
    static constexpr uint32_t kSecondSidebandFlag = 200;
    static constexpr uint32_t kSize = 204;
};

// Feature code 18, the modulators: a record of one register block.
QV_STATUS ModsFeatureInit(DeviceAccess& device, DeviceStateNodeGroup* group, const TreeNode::Ptr& groupNode,
                          uint16_t version, const std::vector<Feature*>& items, int count);

// The FMCOEFF endpoint of a modulator's MODE, SIDEBAND or FMCOEFF leaf.
EPNodePtr ModsFmCoeffEP(DeviceAccess& device, const DeviceStateEPNode& leaf);

QV_STATUS ModsModeReadData(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session);
QV_STATUS ModsSidebandReadData(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session);
QV_STATUS ModsFmCoeffReadData(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session);
QV_STATUS ModsModeWriteNumber(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session,
                              double value, int64_t integer);
QV_STATUS ModsSidebandWriteNumber(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session,
                                  double value, int64_t integer);
QV_STATUS ModsFmCoeffWriteNumber(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session,
                                 double value, int64_t integer);
QV_STATUS ModsFmCoeffUpdateData(DeviceAccess& device, const EPNodePtr& ep, const uint8_t* data, uint32_t length);

}  // namespace tarnix
