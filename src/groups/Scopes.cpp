#include "groups/Scopes.h"

#include "platform/endian/ByteOrder.h"
#include "engine/DeviceState.h"
#include "engine/RegisterHandlers.h"
#include "engine/SaturatingCast.h"
#include "groups/BlockChecks.h"
#include "groups/common/BooleanUpdateData.h"
#include "groups/common/CommonHandlers.h"
#include "groups/common/EndpointLinks.h"
#include "groups/common/GroupLeaf.h"
#include "groups/common/SharedWriteHandlers.h"
#include "groups/common/ValueReplies.h"
#include "groups/common/WordRegister.h"

#include <algorithm>

namespace tarnix {

namespace LQ3 = NodeDefs::LQ3;
using ScopeNodes = LQ3::Scopes::Instance;

const std::vector<NodeValueListEntry>& ScopeNodes::Channel::values() {
    static const std::vector<NodeValueListEntry> table{
        {"Signal Input 1", 0}, {"Signal Input 2", 1}, {"Signal Output 1", 2}, {"Signal Output 2", 3}};
    return table;
}

const std::vector<NodeValueListEntry>& ScopeNodes::TrigChannel::values() {
    static const std::vector<NodeValueListEntry> table{
        {"Continuous", -2},        {"Off", -1},
        {"Signal Input 1", 0},     {"Signal Input 2", 1},
        {"Signal Output 1", 2},    {"Signal Output 2", 3},
        {"Ocillator 1 phase", 4},  {"Ocillator 2 phase", 5},
        {"Ocillator 3 phase", 6},  {"Ocillator 4 phase", 7},
        {"Ocillator 5 phase", 8},  {"Ocillator 6 phase", 9},
        {"Ocillator 7 phase", 10}, {"Ocillator 8 phase", 11},
        {"DIO 0", 12},             {"DIO 1", 13}};
    return table;
}

const std::vector<NodeValueListEntry>& ScopeNodes::BWLimit::values() {
    static const std::vector<NodeValueListEntry> table{{"BW-limit off", 0}, {"BW-limit on", 1}};
    return table;
}

const std::vector<NodeValueListEntry>& ScopeNodes::TrigEdge::values() {
    static const std::vector<NodeValueListEntry> table{{"Falling edge", 0}, {"Rising edge", 1}};
    return table;
}

double ScopeSecondsPerSample(uint32_t time) {
    constexpr double kSampleRate = 210000000.0;
    return 1.0 / (kSampleRate / double(uint64_t(1) << std::min(time, 15u)));
}

namespace {

// Register offsets of the settings in a scope's settings block.
enum SettingOffset : int32_t {
    kChannelOffset = 0,
    kTimeOffset = 4,
    kBWLimitOffset = 8,
    kTrigChannelOffset = 12,
    kTrigEdgeOffset = 16,
    kTrigLevelOffset = 20,
    kTrigHoldoffOffset = 24,
};
constexpr uint32_t kWordBytes = 4;
constexpr uint32_t kMaxTriggerSource = 13;
constexpr uint32_t kMaxTime = 15;
constexpr int64_t kMaxHoldoffMs = 65535;
constexpr double kSecondsPerHoldoffUnit = 0.001;

// How each setting turns a client's value into its register word and back,
// and which field of the wave header, if any, shows it.
struct ChannelSetting {
    static constexpr bool inHeader = true;
    static uint32_t encode(double, int64_t v) { return uint32_t(std::clamp<int64_t>(v, 0, 3)); }
    static int64_t decode(uint32_t word) { return std::min(word, 3u); }
    static void patch(uint8_t* header, uint32_t word) {
        le::put32(header + scopewave::kChannelOffset, uint32_t(decode(word)));
    }
};

struct TimeSetting {
    static constexpr bool inHeader = true;
    static uint32_t encode(double, int64_t v) { return uint32_t(std::clamp<int64_t>(v, 0, kMaxTime)); }
    static int64_t decode(uint32_t word) { return std::min(word, kMaxTime); }
    static void patch(uint8_t* header, uint32_t word) {
        le::putDouble(header + scopewave::kSecondsPerSampleOffset, ScopeSecondsPerSample(word));
    }
};

struct BWLimitSetting {
    static constexpr bool inHeader = true;
    static uint32_t encode(double, int64_t v) { return v != 0 ? 1 : 0; }
    static int64_t decode(uint32_t word) { return word != 0 ? 1 : 0; }
    static void patch(uint8_t* header, uint32_t word) {
        le::put32(header + scopewave::kBWLimitOffset, uint32_t(decode(word)));
    }
};

struct TrigChannelSetting {
    static constexpr bool inHeader = true;
    static uint32_t encode(double, int64_t v) {
        if (v == -2) return kScopeTriggerContinuous;
        if (v < 0) return kScopeTriggerOff;
        return uint32_t(std::min<int64_t>(v, kMaxTriggerSource));
    }
    static int64_t decode(uint32_t word) {
        if (word == kScopeTriggerOff) return -1;
        if (word == kScopeTriggerContinuous) return -2;
        return std::min(word, kMaxTriggerSource);
    }
    static void patch(uint8_t* header, uint32_t word) {
        le::put32(header + scopewave::kTrigChannelOffset, uint32_t(int32_t(decode(word))));
    }
};

// A setting that the wave header does not show.
struct HeaderlessSetting {
    static constexpr bool inHeader = false;
    static void patch(uint8_t*, uint32_t) {}
};

struct TrigLevelSetting : HeaderlessSetting {
    static uint32_t encode(double, int64_t v) { return uint32_t(int32_t(std::clamp<int64_t>(v, -32768, 32767))); }
    static int64_t decode(uint32_t word) { return std::clamp<int64_t>(int32_t(word), -32768, 32767); }
};

struct TrigHoldoffSetting : HeaderlessSetting {
    static uint32_t encode(double seconds, int64_t) {
        return uint32_t(std::clamp<int64_t>(saturatingCast<int64_t>(seconds * 1000.0), 0, kMaxHoldoffMs));
    }
    static double decode(uint32_t word) {
        return double(std::min<int64_t>(word, kMaxHoldoffMs)) * kSecondsPerHoldoffUnit;
    }
};

QV_STATUS replyValue(DeviceAccess& device, const DeviceStateEPNode& ep, uint16_t seq, uint16_t session,
                     uint16_t flags, int64_t value) {
    return replyInteger(device, ep, seq, session, flags, value);
}
QV_STATUS replyValue(DeviceAccess& device, const DeviceStateEPNode& ep, uint16_t seq, uint16_t session,
                     uint16_t flags, double value) {
    return replyDouble(device, ep, seq, session, flags, value);
}
QV_STATUS pushValue(DeviceAccess& device, int32_t epId, int64_t value) { return pushInteger(device, epId, value); }
QV_STATUS pushValue(DeviceAccess& device, int32_t epId, double value) { return pushDouble(device, epId, value); }

// Sets the setting's field of its scope's wave header; 0x4003 when the leaf
// has lost its link to the WAVE endpoint.
template <class S>
QV_STATUS patchHeader(DeviceAccess& device, const DeviceStateEPNode& ep, uint32_t word) {
    if (!S::inHeader) return QV_NO_ERROR;
    if (ep.bytes.size() < kWordBytes) return QV_VALUE_NOT_FOUND;
    const EPNodePtr wave = LinkedEndpoint(device, ep, 0);
    if (wave && wave->bytes.size() >= scopewave::kHeaderBytes) S::patch(wave->bytes.data(), word);
    return QV_NO_ERROR;
}

template <class S>
QV_STATUS writeSetting(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session, double value,
                       int64_t integer) {
    if (ep->value.size() < kWordBytes) return QV_BUFFER_TOO_SMALL;
    const uint32_t word = S::encode(value, integer);
    const bool changed = word != storedWord(*ep);
    if (changed) storeWord(*ep, word);
    if (QV_STATUS s = patchHeader<S>(device, *ep, word)) return s;
    if (QV_STATUS s = DeviceStateEPNodesMarkWrite(stateOf(device).epNodes, ep->epId)) return s;
    return replyValue(device, *ep, seq, session, writeReplyFlags(changed), S::decode(word));
}

template <class S>
QV_STATUS updateSetting(DeviceAccess& device, const EPNodePtr& ep, const uint8_t* data, uint32_t length) {
    uint32_t word = 0;
    bool changed = false;
    if (QV_STATUS s = ReceiveWord(*ep, data, length, word, changed)) return s;
    if (!changed) return QV_NO_ERROR;
    if (QV_STATUS s = patchHeader<S>(device, *ep, word)) return s;
    return pushValue(device, ep->epId, S::decode(word));
}

template <class S>
QV_STATUS readSetting(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session) {
    return replyValue(device, *ep, seq, session, VALUE_FLAG_REPLY_ONLY, S::decode(storedWord(*ep)));
}

// Handlers and register of one setting leaf.
struct SettingLeaf {
    ReadDataFunc read;
    WriteNumberFunc write;
    UpdateDataFunc update;
    int32_t offset;
    uint32_t initialWord;
};

// Makes a setting leaf with its initial word and asks the instrument for its
// register. A leaf shown in the wave header keeps the WAVE endpoint's id and
// seeds its header field, so that waves carry the settings the leaves show
// even before the instrument has reported them.
template <class T, class S>
QV_STATUS makeSetting(DeviceAccess& device, DeviceStateNodeGroup* group, const TreeNode::Ptr& scope,
                      const Feature* settings, int32_t instance, int32_t waveId, const SettingLeaf& leaf) {
    EPNodePtr ep = CreateLeaf<T>(device, group, scope, kWordBytes, int32_t(kWordBytes), settings, instance,
                                 leaf.offset);
    BindRegisterSetting(*ep, leaf.read, leaf.write, leaf.update);
    if (S::inHeader) {
        if (QV_STATUS s = LinkEndpoints(*ep, {waveId})) return s;
    }
    storeWord(*ep, leaf.initialWord);
    if (QV_STATUS s = patchHeader<S>(device, *ep, leaf.initialWord)) return s;
    return DeviceStateRequestEP(device, ep->epId);
}

QV_STATUS makeScope(DeviceAccess& device, DeviceStateNodeGroup* group, const TreeNode::Ptr& root,
                    const Feature* settings, const Feature* waves, int32_t i) {
    const TreeNode::Ptr scope = CreateChild<ScopeNodes>(root);

    EPNodePtr wave = CreateLeaf<ScopeNodes::Wave>(device, group, scope, scopewave::kHeaderBytes, int32_t(waves->stride),
                                                  waves, i, 0);
    if (QV_STATUS s = DeviceStateEPSetBytes(*wave, scopewave::kHeaderBytes, nullptr)) return s;
    wave->updateData = ScopeWaveUpdateData;
    const int32_t w = wave->epId;

    if (QV_STATUS s = makeSetting<ScopeNodes::Channel, ChannelSetting>(
            device, group, scope, settings, i, w,
            {ClampTo3ReadData, ScopeChannelWriteNumber, ScopeChannelUpdateData, kChannelOffset, 0}))
        return s;
    if (QV_STATUS s = makeSetting<ScopeNodes::Time, TimeSetting>(
            device, group, scope, settings, i, w,
            {ScopeTimeReadData, ScopeTimeWriteNumber, ScopeTimeUpdateData, kTimeOffset, 1}))
        return s;
    if (QV_STATUS s = makeSetting<ScopeNodes::BWLimit, BWLimitSetting>(
            device, group, scope, settings, i, w,
            {BooleanReadData, ScopeBWLimitWriteNumber, ScopeBWLimitUpdateData, kBWLimitOffset, 0}))
        return s;
    if (QV_STATUS s = makeSetting<ScopeNodes::TrigChannel, TrigChannelSetting>(
            device, group, scope, settings, i, w,
            {ScopeTrigChannelReadData, ScopeTrigChannelWriteNumber, ScopeTrigChannelUpdateData, kTrigChannelOffset,
             kScopeTriggerOff}))
        return s;
    if (QV_STATUS s = makeSetting<ScopeNodes::TrigEdge, HeaderlessSetting>(
            device, group, scope, settings, i, w,
            {BooleanReadData, BooleanWriteNumber, BooleanUpdateData, kTrigEdgeOffset, 0}))
        return s;
    if (QV_STATUS s = makeSetting<ScopeNodes::TrigLevel, TrigLevelSetting>(
            device, group, scope, settings, i, w,
            {ScopeTrigLevelReadData, ScopeTrigLevelWriteNumber, ScopeTrigLevelUpdateData, kTrigLevelOffset, 0}))
        return s;
    return makeSetting<ScopeNodes::TrigHoldoff, TrigHoldoffSetting>(
        device, group, scope, settings, i, w,
        {ScopeTrigHoldoffReadData, ScopeTrigHoldoffWriteNumber, ScopeTrigHoldoffUpdateData, kTrigHoldoffOffset, 0});
}

}  // namespace

QV_STATUS ScopesFeatureInit(DeviceAccess& device, DeviceStateNodeGroup* group, const TreeNode::Ptr& groupNode,
                            uint16_t, const std::vector<Feature*>& items, int count) {
    if (QV_STATUS s = GroupCheckBlocks(items, count, 2, RepsRelation::Equal)) return s;
    for (uint32_t i = 0; i < items[0]->count; ++i)
        if (QV_STATUS s = makeScope(device, group, groupNode, items[0], items[1], int32_t(i))) return s;
    return QV_NO_ERROR;
}

QV_STATUS ScopeChannelWriteNumber(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session,
                                  double value, int64_t integer) {
    return writeSetting<ChannelSetting>(device, ep, seq, session, value, integer);
}
QV_STATUS ScopeChannelUpdateData(DeviceAccess& device, const EPNodePtr& ep, const uint8_t* data, uint32_t length) {
    return updateSetting<ChannelSetting>(device, ep, data, length);
}

QV_STATUS ScopeTimeReadData(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session) {
    return readSetting<TimeSetting>(device, ep, seq, session);
}
QV_STATUS ScopeTimeWriteNumber(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session,
                               double value, int64_t integer) {
    return writeSetting<TimeSetting>(device, ep, seq, session, value, integer);
}
QV_STATUS ScopeTimeUpdateData(DeviceAccess& device, const EPNodePtr& ep, const uint8_t* data, uint32_t length) {
    return updateSetting<TimeSetting>(device, ep, data, length);
}

QV_STATUS ScopeBWLimitWriteNumber(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session,
                                  double value, int64_t integer) {
    return writeSetting<BWLimitSetting>(device, ep, seq, session, value, integer);
}
QV_STATUS ScopeBWLimitUpdateData(DeviceAccess& device, const EPNodePtr& ep, const uint8_t* data, uint32_t length) {
    return updateSetting<BWLimitSetting>(device, ep, data, length);
}

QV_STATUS ScopeTrigChannelReadData(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session) {
    return readSetting<TrigChannelSetting>(device, ep, seq, session);
}
QV_STATUS ScopeTrigChannelWriteNumber(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session,
                                      double value, int64_t integer) {
    return writeSetting<TrigChannelSetting>(device, ep, seq, session, value, integer);
}
QV_STATUS ScopeTrigChannelUpdateData(DeviceAccess& device, const EPNodePtr& ep, const uint8_t* data,
                                     uint32_t length) {
    return updateSetting<TrigChannelSetting>(device, ep, data, length);
}

QV_STATUS ScopeTrigLevelReadData(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session) {
    return readSetting<TrigLevelSetting>(device, ep, seq, session);
}
QV_STATUS ScopeTrigLevelWriteNumber(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session,
                                    double value, int64_t integer) {
    return writeSetting<TrigLevelSetting>(device, ep, seq, session, value, integer);
}
QV_STATUS ScopeTrigLevelUpdateData(DeviceAccess& device, const EPNodePtr& ep, const uint8_t* data, uint32_t length) {
    return updateSetting<TrigLevelSetting>(device, ep, data, length);
}

QV_STATUS ScopeTrigHoldoffReadData(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session) {
    return readSetting<TrigHoldoffSetting>(device, ep, seq, session);
}
QV_STATUS ScopeTrigHoldoffWriteNumber(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session,
                                      double value, int64_t integer) {
    return writeSetting<TrigHoldoffSetting>(device, ep, seq, session, value, integer);
}
QV_STATUS ScopeTrigHoldoffUpdateData(DeviceAccess& device, const EPNodePtr& ep, const uint8_t* data,
                                     uint32_t length) {
    return updateSetting<TrigHoldoffSetting>(device, ep, data, length);
}

}  // namespace tarnix
