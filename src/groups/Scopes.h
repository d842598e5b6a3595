#pragma once
#include "core/tree/NodeProperty.h"
#include "engine/DeviceStateEPNode.h"
#include "engine/FeatureInitMap.h"
#include "engine/nodedefs/TabledNodeDef.h"
#include "groups/common/InstanceNodeDef.h"

#include <cstdint>
#include <vector>

// The scopes below DEV/SCOPES: per scope seven settings and the WAVE leaf,
// which hands every wave the instrument sends to its subscribers, headed by
// the settings it was taken with.
namespace tarnix {
namespace NodeDefs {
namespace LQ3 {

struct Scopes : PlainNodeDef<Scopes, 14, 150> {
    static constexpr const char* name = "SCOPES";
    static constexpr HelpItem helpItems[] = {helpText("short", "Scope nodes.")};

    struct Instance : InstanceNodeDef<Instance, 151> {
        static constexpr const char* name = nullptr;
        static constexpr HelpItem helpItems[] = {helpText("short", "Nodes of a scope.")};

        struct Channel : PlainNodeDef<Channel, 1, 152> {
            static constexpr const char* name = "CHANNEL";
            static const std::vector<NodeValueListEntry>& values();
            static constexpr HelpItem helpItems[] = {
                helpFlag("setting", true),
                helpText("short", "Selects the channel for which scope data should be provided."),
                helpText("read", "integer"),
                helpText("write", "integer"),
                helpText("unit", "Index"),
                helpInteger("from", 0),
                helpInteger("to", 3),
                helpInteger("default", 0),
                helpValues("values", &values)};
        };
        struct TrigChannel : PlainNodeDef<TrigChannel, 2, 153> {
            static constexpr const char* name = "TRIGCHANNEL";
            static const std::vector<NodeValueListEntry>& values();
            static constexpr HelpItem helpItems[] = {
                helpFlag("setting", true),
                helpText("short", "Selects the channel which should be used as source for the scope's trigger."),
                helpText("read", "integer"),
                helpText("write", "integer"),
                helpText("unit", "Index"),
                helpInteger("from", -2),
                helpInteger("to", 11),
                helpInteger("default", -1),
                helpValues("values", &values)};
        };
        struct BWLimit : PlainNodeDef<BWLimit, 3, 154> {
            static constexpr const char* name = "BWLIMIT";
            static const std::vector<NodeValueListEntry>& values();
            static constexpr HelpItem helpItems[] = {helpFlag("setting", true),
                                                     helpText("short", "The bandwidth-limit for the scope."),
                                                     helpText("read", "integer"),
                                                     helpText("write", "integer"),
                                                     helpText("unit", "Boolean"),
                                                     helpInteger("default", 0),
                                                     helpValues("values", &values)};
        };
        struct TrigEdge : PlainNodeDef<TrigEdge, 4, 155> {
            static constexpr const char* name = "TRIGEDGE";
            static const std::vector<NodeValueListEntry>& values();
            static constexpr HelpItem helpItems[] = {
                helpFlag("setting", true),
                helpText("short", "Selects whether the scope should trigger on rising or falling edge."),
                helpText("read", "integer"),
                helpText("write", "integer"),
                helpInteger("default", 1),
                helpValues("values", &values)};
        };
        struct TrigLevel : PlainNodeDef<TrigLevel, 5, 156> {
            static constexpr const char* name = "TRIGLEVEL";
            static constexpr HelpItem helpItems[] = {
                helpFlag("setting", true),
                helpText("short", "Level at which a trigger is raised."),
                helpText("detailed", "Full scale is covered by min and max values"),
                helpText("read", "integer"),
                helpText("write", "integer"),
                helpText("unit", "LSB"),
                helpInteger("from", -32768),
                helpInteger("to", 32767),
                helpInteger("default", 0)};
        };
        struct TrigHoldoff : PlainNodeDef<TrigHoldoff, 6, 157> {
            static constexpr const char* name = "TRIGHOLDOFF";
            static constexpr HelpItem helpItems[] = {
                helpFlag("setting", true),
                helpText("short", "Time to wait for re-arming the trigger after one occurred."),
                helpInteger("precision", 3),
                helpText("read", "double"),
                helpText("write", "double"),
                helpText("unit", "s"),
                helpDouble("from", 0.0),
                helpDouble("to", 65.535),
                helpDouble("default", 0.25)};
        };
        struct Time : PlainNodeDef<Time, 7, 158> {
            static constexpr const char* name = "TIME";
            static constexpr HelpItem helpItems[] = {
                helpFlag("setting", true),
                helpText("short", "Timescale of the scopewave (logarithmic decimation)."),
                helpText("detailed",
                         "Determines the decimation of the sample rate. The following formulas apply: span = 2^val * "
                         "10us, samplerate = 210MS/2^val "),
                helpText("read", "integer"),
                helpText("write", "integer"),
                helpInteger("from", 0),
                helpInteger("to", 7),
                helpInteger("default", 0)};
        };
        struct Wave : PlainNodeDef<Wave, 8, 159> {
            static constexpr const char* name = "WAVE";
            static constexpr HelpItem helpItems[] = {helpText("short", "Samples of scope-waveforms."),
                                                     helpText("read", "scopesample"),
                                                     helpText("stream", "scopesample")};
        };
    };
};

}  // namespace LQ3
}  // namespace NodeDefs

// The header of every scope wave, kept in the byte buffer of the scope's WAVE
// endpoint: the settings the wave was taken with. 24 bytes, little-endian.
namespace scopewave {
constexpr uint32_t kHeaderBytes = 24;
constexpr uint32_t kSecondsPerSampleOffset = 0;  // f64
constexpr uint32_t kChannelOffset = 8;           // u32, 0..3
constexpr uint32_t kTrigChannelOffset = 12;      // i32: -2 continuous, -1 off, 0..13
constexpr uint32_t kBWLimitOffset = 16;          // u32, 0 or 1
constexpr uint32_t kSampleCountOffset = 20;      // u32, set in each wave's copy only
// A wave in the output FIFO: the value record's head, the header, the samples.
constexpr uint32_t kRecordHeadBytes = 12;
constexpr uint32_t kRecordSamplesOffset = kRecordHeadBytes + kHeaderBytes;
}  // namespace scopewave

// Words of the trigger-channel register besides the sources 0..13.
constexpr uint32_t kScopeTriggerContinuous = 0x40000000;
constexpr uint32_t kScopeTriggerOff = 0x80000000;

// Seconds between two samples at timescale `time` (0..15): 2^time / 210 MHz.
double ScopeSecondsPerSample(uint32_t time);

// Feature code 7, the scopes: a settings block and a wave block with one
// instance per scope each.
QV_STATUS ScopesFeatureInit(DeviceAccess& device, DeviceStateNodeGroup* group, const TreeNode::Ptr& groupNode,
                            uint16_t version, const std::vector<Feature*>& items, int count);

// Settings. Writes take the integer form of the client's value, but the
// hold-off, which takes seconds; each write sends its register again even
// when unchanged. CHANNEL, TIME, BWLIMIT and TRIGCHANNEL also set their field
// of the wave header (0x4003 when the leaf lacks its link to WAVE).
QV_STATUS ScopeChannelWriteNumber(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session,
                                  double value, int64_t integer);
QV_STATUS ScopeChannelUpdateData(DeviceAccess& device, const EPNodePtr& ep, const uint8_t* data, uint32_t length);
QV_STATUS ScopeTimeReadData(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session);
QV_STATUS ScopeTimeWriteNumber(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session,
                               double value, int64_t integer);
QV_STATUS ScopeTimeUpdateData(DeviceAccess& device, const EPNodePtr& ep, const uint8_t* data, uint32_t length);
QV_STATUS ScopeBWLimitWriteNumber(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session,
                                  double value, int64_t integer);
QV_STATUS ScopeBWLimitUpdateData(DeviceAccess& device, const EPNodePtr& ep, const uint8_t* data, uint32_t length);
QV_STATUS ScopeTrigChannelReadData(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session);
QV_STATUS ScopeTrigChannelWriteNumber(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session,
                                      double value, int64_t integer);
QV_STATUS ScopeTrigChannelUpdateData(DeviceAccess& device, const EPNodePtr& ep, const uint8_t* data,
                                     uint32_t length);
QV_STATUS ScopeTrigLevelReadData(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session);
QV_STATUS ScopeTrigLevelWriteNumber(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session,
                                    double value, int64_t integer);
QV_STATUS ScopeTrigLevelUpdateData(DeviceAccess& device, const EPNodePtr& ep, const uint8_t* data, uint32_t length);
QV_STATUS ScopeTrigHoldoffReadData(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session);
QV_STATUS ScopeTrigHoldoffWriteNumber(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session,
                                      double value, int64_t integer);
QV_STATUS ScopeTrigHoldoffUpdateData(DeviceAccess& device, const EPNodePtr& ep, const uint8_t* data,
                                     uint32_t length);

// One wave of the scope: one record in the output FIFO (the header with the
// wave's sample count, then the 16-bit samples as they came). 0x4002, without
// a log record, when the FIFO has no room for it.
QV_STATUS ScopeWaveUpdateData(DeviceAccess& device, const EPNodePtr& ep, const uint8_t* data, uint32_t length);

}  // namespace tarnix
