#pragma once
#include "Heartbeat.h"
#include "ModelOptions.h"
#include "ModelRegions.h"
#include "SimInstrument.h"
#include "StatusFlags.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <vector>

namespace tarnix {
namespace sim {

class AuxDioStreams;
class FrontEndScope;
class SignalPathStreams;

// The LQ3 behind the simulated FPGA: its feature list in the aperture, the
// board register, the FEATURES block, the command mailbox, the real-time CPU
// and, once a host has read the list, a steady stream of STATUS blocks, whose
// flag word carries the losses of the streams since the block before.
class InstrumentModel {
public:
    static constexpr std::size_t kHeartbeatQueueLimit = 16384;  // bytes a host may leave unread

    InstrumentModel(std::shared_ptr<SimInstrument> instrument, const ModelOptions& options,
                    const std::array<uint8_t, 16>& storedDigest);
    ~InstrumentModel();
    InstrumentModel(const InstrumentModel&) = delete;
    InstrumentModel& operator=(const InstrumentModel&) = delete;

    // Serves another list from now on and sends it to the host at once, as the
    // instrument does when what it carries changes.
    void pushFeatureList(const std::vector<uint8_t>& records);
    uint32_t mailboxCommandsRun() const { return mailbox_->commandsRun(); }

private:
    void beat();

    std::shared_ptr<SimInstrument> instrument_;
    std::shared_ptr<FeatureListRegion> list_;
    std::shared_ptr<MailboxRegion> mailbox_;
    std::chrono::steady_clock::time_point start_;
    std::shared_ptr<StatusFlags> flags_ = std::make_shared<StatusFlags>();
    std::unique_ptr<Heartbeat> heartbeat_;
    std::unique_ptr<AuxDioStreams> auxDioStreams_;
    std::unique_ptr<SignalPathStreams> signalPathStreams_;
    std::unique_ptr<FrontEndScope> scope_;
};

}  // namespace sim
}  // namespace tarnix
