#pragma once
#include "core/QVStatus.h"
#include "engine/DeviceAccess.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <vector>

namespace tarnix {

struct Feature;
struct DeviceStateTimer;

// Completion of a mailbox command: the reply the instrument wrote into the data
// area. The user data given with the request is handed back unchanged.
using CmdCompleteFunc = std::function<void(DeviceAccess& device, const uint8_t* reply, uint32_t length,
                                           const std::shared_ptr<void>& user)>;
// Clean-up of a command whose reply did not come within the time-out.
using CmdCleanupFunc = std::function<void(DeviceAccess& device, const std::shared_ptr<void>& user)>;

struct CmdEntry {
    uint32_t code = 0;
    uint32_t argument = 0;
    std::shared_ptr<void> user;
    CmdCompleteFunc complete;
    CmdCleanupFunc cleanup;
    std::vector<uint8_t> payload;
};

// The instrument's command mailbox and the queue of commands for it.
struct DeviceStateCmd {
    static constexpr std::size_t kMaxEntries = 128;
    static constexpr std::size_t kMaxBytes = 131072;
    static constexpr std::size_t kEntryHeaderBytes = 24;  // bytes an entry counts besides its payload
    static constexpr std::chrono::microseconds kTimeout{5000000};

    int commandRow = -1;
    int dataRow = -1;
    uint32_t commandAddress = 0;
    uint32_t argumentAddress = 0;
    uint32_t dataAddress = 0;
    uint32_t dataSize = 0;  // largest payload; 0 until the mailbox is located
    bool inFlight = false;
    std::deque<CmdEntry> queue;  // the head is in flight while inFlight is set
    std::size_t queuedBytes = 0;
    DeviceStateTimer* timer = nullptr;
    bool ready = false;
};

QV_STATUS DeviceStateCmdRequest(DeviceAccess& device, CmdCompleteFunc complete, CmdCleanupFunc cleanup,
                                std::shared_ptr<void> user, uint32_t code, uint32_t argument, const uint8_t* payload,
                                uint32_t length);
QV_STATUS DeviceStateCmdSetReady(DeviceAccess& device, bool ready);
// Locates the mailbox from the two register blocks of its feature record.
QV_STATUS DeviceStateCmdFeatureInit(DeviceAccess& device, const char* name8, const uint8_t* data, uint32_t length);
// Data handler of the mailbox's data area: the reply of the command in flight.
QV_STATUS DeviceStateCmdComplete(DeviceAccess& device, Feature& item, uint32_t address, uint32_t instance,
                                 const uint8_t* data, uint32_t length);
void DeviceStateCmdTimeout(DeviceAccess& device);
QV_STATUS DeviceStateCmdSendNext(DeviceAccess& device);
QV_STATUS DeviceStateCmdWriteWords(uint32_t address, const uint8_t* data, DeviceAccess& device, uint32_t length);

}  // namespace tarnix
