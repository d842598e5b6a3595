#include "groups/AuxIns.h"

#include "platform/endian/ByteOrder.h"
#include "core/DataTypes.h"
#include "core/ValueRecord.h"
#include "engine/DeviceState.h"
#include "engine/RegisterHandlers.h"
#include "groups/BlockChecks.h"
#include "groups/auxdio/MappedSetting.h"
#include "groups/auxdio/SampleStream.h"
#include "groups/common/GroupLeaf.h"
#include "groups/data/GroupFamilyData.h"

#include <algorithm>

namespace tarnix {

namespace {

namespace LQ3 = NodeDefs::LQ3;

constexpr uint32_t kAveragingExponentMax = 15;
// Until the instrument answers, the setting shows the largest averaging (the
// integer part of log2(65536), capped like every other exponent).
constexpr uint32_t kAveragingStartExponent = 15;
constexpr uint32_t kAveragingBytes = 4;

constexpr double kChannelSpanVolts = 20.0;
constexpr double kPerChannelCode = 1.5259021896696422e-05;  // 1 / 65535
constexpr uint32_t kChannel1Offset = 10;

using Averaging = auxdio::MappedIntegerSetting<AuxInAveragingExponent, AuxInAveragingOf>;

}  // namespace

uint32_t AuxInAveragingExponent(int64_t averaging) {
    // The integer part of log2, exactly: the index of the highest set bit. No
    // value of 0 or below has a logarithm; they get exponent 0.
    uint32_t exponent = 0;
    for (uint64_t rest = averaging > 0 ? uint64_t(averaging) : 1; rest > 1; rest >>= 1) ++exponent;
    return std::min(exponent, kAveragingExponentMax);
}

int64_t AuxInAveragingOf(uint32_t exponent) { return int64_t(1) << std::min(exponent, kAveragingExponentMax); }

double AuxInChannelVolts(int16_t raw) { return (raw * kChannelSpanVolts) * kPerChannelCode; }

const ReadDataHandler AuxInAveragingReadData = Averaging::read;
const WriteNumberHandler AuxInAveragingWriteNumber = Averaging::write;
const UpdateDataHandler AuxInAveragingUpdateData = Averaging::update;

const ReadDataHandler AuxInSampleReadData =
    auxdio::ReadLatestSample<DataAuxInSample, kAuxInSampleSize, decodeAuxInSample, ReturnParamValueAuxInSample>;

QV_STATUS AuxInSampleUpdateData(DeviceAccess& device, const EPNodePtr& ep, const uint8_t* data, uint32_t length) {
    Timestamp48Extender& extender = stateOf(device).auxInExtender;
    return auxdio::AppendSample(*ep, data, length, kAuxInSampleSize, [&](uint8_t* block) {
        DataAuxInSample sample;
        sample.timeStamp = auxdio::PacketTime(extender, data);
        sample.ch0 = AuxInChannelVolts(int16_t(le::get16(data + auxdio::kSamplePayloadOffset)));
        sample.ch1 = AuxInChannelVolts(int16_t(le::get16(data + kChannel1Offset)));
        encodeAuxInSample(block, sample);
    });
}

QV_STATUS AuxInsFeatureInit(DeviceAccess& device, DeviceStateNodeGroup* group, const TreeNode::Ptr& groupNode,
                            uint16_t, const std::vector<Feature*>& items, int count) {
    if (QV_STATUS s = GroupCheckBlocks(items, count, 2, RepsRelation::Twice)) return s;
    const Feature* settings = items[0];
    const Feature* samples = items[1];
    const int32_t blocks = int32_t(settings->count);
    familyDataOf(stateOf(device)).shared.auxInputCount = settings->count;

    for (int32_t i = 0; i < blocks; ++i) {
        const TreeNode::Ptr node = CreateChild<LQ3::AuxIns::Instance>(groupNode);

        const EPNodePtr averaging = CreateLeaf<LQ3::AuxIns::Instance::Averaging>(
            device, group, node, kAveragingBytes, kAveragingBytes, settings, i, 0);
        BindRegisterSetting(*averaging, AuxInAveragingReadData, AuxInAveragingWriteNumber, AuxInAveragingUpdateData);
        storeWord(*averaging, kAveragingStartExponent);
        if (QV_STATUS s = DeviceStateRequestEP(device, averaging->epId)) return s;

        if (QV_STATUS s = auxdio::CreateSlotPairStream<LQ3::AuxIns::Instance::Sample>(
                device, group, node, samples, i, kAuxInSampleSize, DATATYPE_AUXINSAMPLE, AuxInSampleReadData,
                AuxInSampleUpdateData))
            return s;
    }
    return QV_NO_ERROR;
}

}  // namespace tarnix
