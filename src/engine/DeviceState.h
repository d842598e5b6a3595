#pragma once
#include "core/QVStatus.h"
#include "engine/AddressCache.h"
#include "engine/DeviceAccess.h"
#include "engine/DeviceStateCmd.h"
#include "engine/DeviceStateEPNode.h"
#include "engine/DeviceStateGroupStore.h"
#include "engine/DeviceStateTimer.h"
#include "engine/FeatureBootstrap.h"
#include "engine/FeatureMap.h"
#include "engine/GainRangeEntry.h"
#include "engine/NodeGroup.h"
#include "engine/Timestamp48Extender.h"

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tarnix {

struct DispatcherTree;

// Index of the statistics of the device loop.
enum StatsValue : int {
    STATS_BYTES_SENT = 0,
    STATS_BYTES_RECEIVED = 1,
    STATS_MEAN_MSG_COUNT = 2,
    STATS_MEAN_POLL_COUNT = 3,
    STATS_SUPPLY_1V2 = 4,
    STATS_SUPPLY_1V8 = 5,
    STATS_SUPPLY_2V5 = 6,
    STATS_SUPPLY_3V3 = 7,
    STATS_SUPPLY_5V0 = 8,
    STATS_TEMPERATURE = 9,
    STATS_COUNT = 10,
};

// The update poll of the transimpedance amplifiers (DeviceState::tampUpdateState).
enum class TAmpUpdateState : int {
    Idle = 0,       // nothing to poll
    Requested = 1,  // the next send pass asks the amplifiers whether they are busy
    InFlight = 2,   // that command is waiting for its reply
};

// The 50 Ohm forcing of the signal inputs after an FPGA configuration
// (DeviceState::sigInRewriteState).
enum class SigInRewriteState : int {
    FpgaConfigured = 0,  // the device start configured the FPGA; the inputs' group arms the forcing
    Armed = 1,           // forced; the send pass writes the inputs' own settings again later
    Idle = 2,            // nothing to do
};

// The board register read during feature discovery.
struct HwInfoWord {
    uint32_t raw = 0;
    uint32_t revision = 0;  // bits 0-2
    bool flag = false;      // bit 3
};

// Data of the node groups that the engine initialises itself: at creation
// (the gain ranges) and whenever feature discovery starts. Everything else
// the groups keep lives in the group store.
struct DeviceStateGroupData {
    static constexpr std::size_t kGainRangeLists = 4;
    static constexpr std::size_t kGainRangeDefaults = 30;

    // Derived auxiliary-output values and the demodulator input table, reset
    // whenever feature discovery starts (DeviceStateFeatureInit).
    std::array<double, 8> auxOutDerived{};
    std::array<int, 32> demodInputIndex{};

    std::array<std::vector<GainRangeEntry>, kGainRangeLists> gainRanges;
};

// The per-instrument record of the device state engine. Owned by the device
// object and touched only by its device thread.
struct DeviceState {
    static constexpr int kMaxFeatures = 300;

    std::shared_ptr<DispatcherTree> tree;

    // Feature-list bootstrap.
    BootStep bootStep = BootStep::Off;
    uint32_t apertureAddress = 0;
    uint32_t apertureLength = 0;
    std::string apertureTag;  // 8 characters once set
    uint32_t featureListLength = 0;
    std::optional<EngineTime> stepTime;  // empty: timing starts at the next pass
    Feature* featureListItem = nullptr;
    int featureListRow = -1;
    uint32_t boardRegisterAddress = 0;
    uint32_t boardRegisterLength = 0;
    Feature* hwInfoItem = nullptr;
    int hwInfoRow = -1;
    HwInfoWord hwInfo;

    FeatureMap features;
    DeviceStateEPNodes epNodes;

    // What the address cache was built against; routing resets the cache when
    // either differs from the current value.
    uint32_t cacheGeneration = 0;
    uint32_t cacheChangeCounter = 0;
    AddressCache addressCache;

    // The stream buffers of the endpoints, for the device loop's room check;
    // rebuilt when the endpoint table changed since.
    std::vector<std::shared_ptr<BufferFifoBase>> streamBuffers;
    uint32_t streamBuffersChangeCounter = ~0u;

    std::array<int, STATS_COUNT> statsEPIds;

    uint32_t rawListenAddress = 0;
    int rawListenEPId = -1;

    std::vector<std::unique_ptr<DeviceStateNodeGroup>> nodeGroups;

    DeviceStateGroupData groups;
    // The families' own records, made by the groups on first use.
    std::unique_ptr<DeviceStateGroupStore> groupStore;
    std::array<int, 2> sigInRewriteEPIds{{-1, -1}};

    // PID update strobe and the amplifier poll.
    uint32_t pidStrobeEnable = 0;
    uint32_t pidStrobeAddress = 0;
    TAmpUpdateState tampUpdateState = TAmpUpdateState::Idle;
    bool pidStrobePending = false;

    // LED animation of a finished start-up.
    std::vector<uint32_t> ledRegisters;
    uint8_t ledFlags = 0;  // bit 0: running
    std::optional<EngineTime> ledTime;
    int ledCounter = 0;

    DeviceStateCmd cmd;

    EngineTime currentTime{};
    DeviceStateTimers timers;

    int announced = 0;
    int initCounter = 0;
    // A failed feature-list run keeps one count of initCounter until a run
    // succeeds, so that a device is never announced from a bad list.
    bool featureRunCountHeld = false;

    Timestamp48Extender demodExtender;
    Timestamp48Extender auxInExtender;
    Timestamp48Extender dioExtender;
    Timestamp48Extender statusTimeExtender;

    SigInRewriteState sigInRewriteState = SigInRewriteState::Idle;
    EngineTime sigInRewriteTime{};

    DeviceState();
    ~DeviceState();
    DeviceState(const DeviceState&) = delete;
    DeviceState& operator=(const DeviceState&) = delete;
};

// Creates the device state, its tree with the root nodes and the aperture, and
// stores it in the device object.
QV_STATUS DeviceStateCreate(DeviceAccess& device);
QV_STATUS DeviceStateDestroy(DeviceAccess& device);
QV_STATUS DeviceStateFeatureInit(DeviceAccess& device);

// Hands one statistic of the device loop to its node. Returns false when the
// report was dropped because the output FIFO was full (the caller reports it
// again later). Throws QVDeviceException when the node's handler fails for
// another reason.
bool DeviceStateSetStats(DeviceAccess& device, int value, double stat);

QV_STATUS DeviceStateRequestEP(DeviceAccess& device, int epId);
QV_STATUS DeviceStateClearAwaiting(DeviceAccess& device, int epId);
// Whether values that the groups asked the instrument for while they were
// built (DeviceStateRequestEP) are still on their way.
bool DeviceStateAwaitsInitialValues(DeviceAccess& device);
QV_STATUS DeviceStateStartLedAnimation(DeviceAccess& device, DeviceState& state);
QV_STATUS DeviceStateAddLedRegister(DeviceAccess& device, uint32_t address);
QV_STATUS DeviceStateLedRegistersSet(DeviceAccess& device);
QV_STATUS DeviceStateLedRegistersClear(DeviceAccess& device);

// The device state of a device object; throws QVException when there is none.
DeviceState& stateOf(DeviceAccess& device);

}  // namespace tarnix
