#include "groups/DIOs.h"

#include "platform/endian/ByteOrder.h"
#include "core/DataTypes.h"
#include "core/ValueRecord.h"
#include "engine/DeviceState.h"
#include "engine/RegisterHandlers.h"
#include "groups/BlockChecks.h"
#include "groups/auxdio/MappedSetting.h"
#include "groups/auxdio/SampleStream.h"
#include "groups/common/BooleanUpdateData.h"
#include "groups/common/CommonHandlers.h"
#include "groups/common/GroupLeaf.h"
#include "groups/common/SharedWriteHandlers.h"
#include "groups/common/ValueReplies.h"
#include "groups/common/WordRegister.h"
#include "groups/data/GroupFamilyData.h"

#include <algorithm>

namespace tarnix {

namespace NodeDefs {
namespace LQ3 {

const std::vector<NodeValueListEntry>& DIOs::Instance::ExtClk::values() {
    static const std::vector<NodeValueListEntry> table{{"Internal clock", 0}, {"External clock", 1}};
    return table;
}

const std::vector<NodeValueListEntry>& DIOs::Instance::Drive::values() {
    static const std::vector<NodeValueListEntry> table{{"Drive off", 0},
                                                       {"Drive lower 16bits", 1},
                                                       {"Drive higher 16bits", 2},
                                                       {"Drive all 32bits", 3}};
    return table;
}

}  // namespace LQ3
}  // namespace NodeDefs

namespace {

namespace LQ3 = NodeDefs::LQ3;
using Port = LQ3::DIOs::Instance;

constexpr int64_t kDecimationMin = 1;
constexpr int64_t kDecimationMax = 65535;
constexpr uint32_t kDriveBits = 3;
constexpr uint32_t kOutputBits = 0xFFFF;
constexpr int64_t kSyncSources = 8;  // sources 0..7; 8 selects none
constexpr uint32_t kSettingBytes = 4;

uint32_t decimationWord(int64_t value) { return uint32_t(std::clamp(value, kDecimationMin, kDecimationMax)); }
int64_t decimationValue(uint32_t word) { return std::clamp<uint32_t>(word, kDecimationMin, kDecimationMax); }

uint32_t driveWord(int64_t value) { return ~uint32_t(value) & kDriveBits; }
int64_t driveValue(uint32_t word) { return ~word & kDriveBits; }

uint32_t outputWord(int64_t value) { return uint32_t(value) & kOutputBits; }
int64_t outputValue(uint32_t word) { return word & kOutputBits; }

using DecimationSetting = auxdio::MappedIntegerSetting<decimationWord, decimationValue>;
using DriveSetting = auxdio::MappedIntegerSetting<driveWord, driveValue>;
using OutputSetting = auxdio::MappedIntegerSetting<outputWord, outputValue>;

// The last demodulator, formed without sign: with none every source passes.
uint32_t lastDemodulator(const DeviceState& state) { return familyDataOf(state).shared.demodulatorCount - 1; }

uint32_t syncWord(const DeviceState& state, int64_t value) {
    if (value < 0) return 0;
    if (value >= kSyncSources || uint32_t(value) > lastDemodulator(state)) return uint32_t(kSyncSources);
    return uint32_t(value);
}
// Read at every call: the demodulators may come after the ports.
int64_t syncValue(const DeviceState& state, uint32_t word) {
    return word < kSyncSources && word <= lastDemodulator(state) ? word : kSyncSources;
}

// One settings word of a port: where it lies, what it holds until the
// instrument answers and how clients see it.
struct SettingLeaf {
    EPNodePtr (*create)(DeviceAccess&, DeviceStateNodeGroup*, const TreeNode::Ptr&, uint32_t, int32_t,
                        const Feature*, int32_t, int32_t, int32_t);
    int32_t offset;
    uint32_t initialWord;
    ReadDataFunc read;
    WriteNumberFunc write;
    UpdateDataFunc update;
};

const SettingLeaf* settingLeaves(std::size_t& count) {
    static const SettingLeaf leaves[] = {
        {CreateLeaf<Port::ExtClk>, 0, 0, BooleanReadData, BooleanWriteNumber, BooleanUpdateData},
        {CreateLeaf<Port::Decimation>, 4, 1000, DIODecimationReadData, DIODecimationWriteNumber,
         DIODecimationUpdateData},
        {CreateLeaf<Port::Drive>, 8, 3, DIODriveReadData, DIODriveWriteNumber, DIODriveUpdateData},
        {CreateLeaf<Port::Output>, 12, 0, DIOOutputReadData, DIOOutputWriteNumber, DIOOutputUpdateData},
        {CreateLeaf<Port::SyncSelect0>, 16, 8, DIOSyncSelectReadData, DIOSyncSelectWriteNumber,
         DIOSyncSelectUpdateData},
        {CreateLeaf<Port::SyncSelect1>, 20, 8, DIOSyncSelectReadData, DIOSyncSelectWriteNumber,
         DIOSyncSelectUpdateData},
    };
    count = sizeof leaves / sizeof leaves[0];
    return leaves;
}

}  // namespace

const ReadDataHandler DIODecimationReadData = DecimationSetting::read;
const WriteNumberHandler DIODecimationWriteNumber = DecimationSetting::write;
const UpdateDataHandler DIODecimationUpdateData = DecimationSetting::update;

const ReadDataHandler DIODriveReadData = DriveSetting::read;
const WriteNumberHandler DIODriveWriteNumber = DriveSetting::write;
const UpdateDataHandler DIODriveUpdateData = DriveSetting::update;

const ReadDataHandler DIOOutputReadData = OutputSetting::read;
const WriteNumberHandler DIOOutputWriteNumber = OutputSetting::write;
const UpdateDataHandler DIOOutputUpdateData = OutputSetting::update;

QV_STATUS DIOSyncSelectReadData(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session) {
    return replyInteger(device, *ep, seq, session, VALUE_FLAG_REPLY_ONLY, syncValue(stateOf(device), storedWord(*ep)));
}

QV_STATUS DIOSyncSelectWriteNumber(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session, double,
                                   int64_t integer) {
    const DeviceState& state = stateOf(device);
    const uint32_t word = syncWord(state, integer);
    bool changed = false;
    if (QV_STATUS s = WriteWordSetting(device, *ep, word, changed)) return s;
    return replyInteger(device, *ep, seq, session, writeReplyFlags(changed), syncValue(state, word));
}

QV_STATUS DIOSyncSelectUpdateData(DeviceAccess& device, const EPNodePtr& ep, const uint8_t* data, uint32_t length) {
    uint32_t word = 0;
    bool changed = false;
    if (QV_STATUS s = ReceiveWord(*ep, data, length, word, changed)) return s;
    return changed ? pushInteger(device, ep->epId, syncValue(stateOf(device), word)) : QV_NO_ERROR;
}

const ReadDataHandler DIOSampleReadData =
    auxdio::ReadLatestSample<DataDIOSample, kDIOSampleSize, decodeDIOSample, ReturnParamValueDIOSample>;

QV_STATUS DIOSampleUpdateData(DeviceAccess& device, const EPNodePtr& ep, const uint8_t* data, uint32_t length) {
    Timestamp48Extender& extender = stateOf(device).dioExtender;
    return auxdio::AppendSample(*ep, data, length, kDIOSampleSize, [&](uint8_t* block) {
        DataDIOSample sample;  // the reserved bytes go out as zeros
        sample.timeStamp = auxdio::PacketTime(extender, data);
        sample.bits = le::get32(data + auxdio::kSamplePayloadOffset);
        encodeDIOSample(block, sample);
    });
}

QV_STATUS DIOsFeatureInit(DeviceAccess& device, DeviceStateNodeGroup* group, const TreeNode::Ptr& groupNode,
                          uint16_t, const std::vector<Feature*>& items, int count) {
    if (QV_STATUS s = GroupCheckBlocks(items, count, 2, RepsRelation::Twice)) return s;
    const Feature* settings = items[0];
    const Feature* samples = items[1];
    const int32_t ports = int32_t(settings->count);
    familyDataOf(stateOf(device)).shared.dioCount = settings->count;

    std::size_t leafCount = 0;
    const SettingLeaf* leaves = settingLeaves(leafCount);
    for (int32_t i = 0; i < ports; ++i) {
        const TreeNode::Ptr node = CreateChild<Port>(groupNode);

        for (const SettingLeaf* leaf = leaves; leaf != leaves + leafCount; ++leaf) {
            const EPNodePtr ep =
                leaf->create(device, group, node, kSettingBytes, kSettingBytes, settings, i, leaf->offset, -1);
            BindRegisterSetting(*ep, leaf->read, leaf->write, leaf->update);
            storeWord(*ep, leaf->initialWord);
            if (QV_STATUS s = DeviceStateRequestEP(device, ep->epId)) return s;
        }

        if (QV_STATUS s = auxdio::CreateSlotPairStream<Port::Input>(device, group, node, samples, i, kDIOSampleSize,
                                                                    DATATYPE_DIOSAMPLE, DIOSampleReadData,
                                                                    DIOSampleUpdateData))
            return s;
    }
    return QV_NO_ERROR;
}

}  // namespace tarnix
