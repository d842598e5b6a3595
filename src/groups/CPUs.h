#pragma once
#include "engine/DeviceStateEPNode.h"
#include "engine/FeatureInitMap.h"
#include "engine/nodedefs/TabledNodeDef.h"

#include <cstdint>
#include <vector>

// The instrument's real-time CPUs: per CPU its workload, the upload of a user
// program, the program's printed output and its general-purpose registers;
// and the CPUs' status area, whose report of a running kernel makes the
// command mailbox usable.
namespace tarnix {
namespace NodeDefs {
namespace LQ3 {

struct CPUs : PlainNodeDef<CPUs, 18, 180> {
    static constexpr const char* name = "CPUS";
    static constexpr HelpItem helpItems[] = {helpText("short", "Nodes for the real-time cpus.")};

    struct Instance : TabledNodeDef<Instance, NodeNameKind::None, 1, 181> {
        static constexpr const char* name = nullptr;
        static constexpr HelpItem helpItems[] = {helpText("short", "Node for one real-time cpu.")};

        struct Workload : PlainNodeDef<Workload, 1, 182> {
            static constexpr const char* name = "WORKLOAD";
            static constexpr HelpItem helpItems[] = {
                helpInteger("precision", 3), helpText("short", "Usage of the processor-time."),
                helpText("read", "double"), helpDouble("from", 0.0), helpDouble("to", 1.0)};
        };
        struct Program : PlainNodeDef<Program, 2, 183> {
            static constexpr const char* name = "PROGRAM";
            static constexpr HelpItem helpItems[] = {helpText("short", "Node to write user programs in."),
                                                     helpText("write", "bytearray")};
        };
        struct Output : PlainNodeDef<Output, 3, 184> {
            static constexpr const char* name = "OUTPUT";
            static constexpr HelpItem helpItems[] = {
                helpText("short", "Node which streams output of the user-program."),
                helpText("stream", "bytearray")};
        };
        struct UserRegs : PlainNodeDef<UserRegs, 4, 185> {
            static constexpr const char* name = "USERREGS";
            static constexpr HelpItem helpItems[] = {
                helpText("short", "General purpose registers to transfer data.")};

            struct Channel : TabledNodeDef<Channel, NodeNameKind::None, 1, 186> {
                static constexpr const char* name = nullptr;
                static constexpr HelpItem helpItems[] = {helpFlag("setting", true),
                                                         helpText("short", "General purpose register."),
                                                         helpText("read", "integer"), helpText("write", "integer")};
            };
        };
    };
};

}  // namespace LQ3
}  // namespace NodeDefs

// The three register blocks of the CPUs' record.
enum CPURecord : std::size_t {
    CPU_RECORD_CONTROL = 0,  // per CPU: word 0 is its hold word (1 hold, 0 run)
    CPU_RECORD_PROGRAM = 1,  // per CPU: its program memory window
    CPU_RECORD_STATUS = 2,   // status area, user registers, print window
};

// Kernel states reported in word 2 of the status area.
enum RTKStatus : uint32_t {
    RTKSTATUS_NONE = 0,
    RTKSTATUS_INITIALIZING_RTK = 1,
    RTKSTATUS_INITIALIZING_USER = 2,
    RTKSTATUS_RUNNING = 3,
};

constexpr uint32_t kCPUStatusAreaBytes = 128;
constexpr uint32_t kCPUUserRegOffset = 128;
constexpr uint32_t kCPUMaxUserRegs = 64;
// Words of a status block that are not registers: the status area and the
// last 128 bytes.
constexpr uint32_t kCPUNonRegisterWords = 64;
// The last bytes of a status block: the print window.
constexpr uint32_t kCPUPrintWindowBytes = 256;
// A program image goes out in writes of at most this many bytes.
constexpr uint32_t kCPUProgramChunkBytes = 256;
// Full scale of the workload word.
constexpr uint32_t kCPUWorkloadFullScale = 0xFFFFFF;

// What a PROGRAM endpoint keeps in its byte buffer (12 bytes, little-endian).
struct CPUProgramContext {
    static constexpr uint32_t kBytes = 12;
    int32_t controlRow = -1;       // register-map row of the control block
    uint32_t windowSize = 0;       // program window size: the program block's stride
    uint32_t statusAddress = 0;    // start of the CPU's status block; 0 when it has none
};
QV_STATUS CPUProgramContextStore(DeviceStateEPNode& ep, const CPUProgramContext& context);
// False when the endpoint holds no context.
bool CPUProgramContextOf(const DeviceStateEPNode& ep, CPUProgramContext& context);

// General-purpose registers of a status block of `stride` bytes: as many
// words as lie between the status area and the last 128 bytes, at most 64;
// none for a block of 256 bytes or less.
uint32_t CPUUserRegisterCount(uint32_t stride);

// Feature code 13: three register blocks (control, program, status).
QV_STATUS CPUsFeatureInit(DeviceAccess& device, DeviceStateNodeGroup* group, const TreeNode::Ptr& groupNode,
                          uint16_t version, const std::vector<Feature*>& items, int count);
QV_STATUS CPUInstanceInit(DeviceStateNodeGroup* group, DeviceAccess& device, const TreeNode::Ptr& instanceNode,
                          const std::vector<Feature*>& items, int cpu);

// Data handler of the status record: block k belongs to CPU k. The print
// window goes to that CPU's print decoder; words 1 (workload) and 2 (kernel
// state) of the status area act.
QV_STATUS CPUStatusUpdateData(DeviceAccess& device, Feature& item, uint32_t address, uint32_t instance,
                              const uint8_t* data, uint32_t length);

QV_STATUS WorkloadReadData(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session);
QV_STATUS WorkloadUpdateData(DeviceAccess& device, const EPNodePtr& ep, const uint8_t* data, uint32_t length);
QV_STATUS ProgramReadData(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session);
// Holds the CPU, writes the image into its program window (each 32-bit word
// byte-reversed, the last one zero-padded) and releases it.
QV_STATUS ProgramWriteBytes(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session,
                            const uint8_t* bytes, uint32_t length);
QV_STATUS UserRegWriteNumber(DeviceAccess& device, const EPNodePtr& ep, uint16_t seq, uint16_t session, double value,
                             int64_t integer);
QV_STATUS UserRegUpdateData(DeviceAccess& device, const EPNodePtr& ep, const uint8_t* data, uint32_t length);
// Writes the hold word of the PROGRAM endpoint's CPU; the mailbox is out of
// service until the CPU reports its kernel running again.
QV_STATUS CPUSetHold(DeviceAccess& device, const EPNodePtr& program, bool hold);

}  // namespace tarnix
