#pragma once
// Per-device state of the node groups: System nodes, real-time CPUs and KCtrl preamplifiers.
// Kept in the device state's group store (GroupFamilyData.h) and used only on
// the device thread.
//
// Fields of these groups that the engine's DeviceState already holds:
//   hwInfo.revision   hardware revision (bits 0-2 of the board register), read by SYSTEM/HWREVISION
//   tampUpdateState   update poll of the transimpedance amplifiers (TAmpUpdateState)
//   cmd.ready         the command mailbox, made ready when a real-time CPU reports itself running
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tarnix {

// The server's side of the print protocol of the real-time CPUs: the state
// kept between the messages that make up one printed line.
struct RTKPrintfDecoder {
    enum class State : uint32_t {
        Idle = 0,       // waiting for a text count or a format
        TextParts = 1,  // plain text parts follow, one line each
        Arguments = 2,  // the arguments of the format follow
    };

    // WORKLOAD and OUTPUT endpoints of the decoder's CPU; -1 until built.
    // Without an OUTPUT endpoint the lines go to the log only.
    int32_t workloadEndpoint = -1;
    int32_t outputEndpoint = -1;
    State state = State::Idle;
    // Text parts or arguments still expected.
    uint32_t remaining = 0;
    // The format text being filled in, and where its filled-in part ends.
    std::string format;
    std::size_t filled = 0;
};

struct SystemData {
    // One per real-time CPU: block k of the CPUs' status record reports the
    // workload of CPU k and carries the lines that CPU k prints.
    std::vector<RTKPrintfDecoder> printDecoders;
};

}  // namespace tarnix
