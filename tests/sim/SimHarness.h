#pragma once
// Simulated instruments for tests: a fresh instrument directory, instruments
// in this process or as lq3sim processes, and a USB back-end that sees them.
#include "SimServer.h"
#include "link/DeviceID.h"
#include "link/IOLQ3_USBImpl.h"
#include "platform/usb/SocketBackend.h"

#include <memory>
#include <string>
#include <sys/types.h>
#include <vector>

namespace tarnix {
namespace testing {

// A temporary instrument directory, removed with everything in it.
class InstrumentDir {
public:
    InstrumentDir();
    ~InstrumentDir();
    const std::string& path() const { return path_; }
    std::string socket(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// An instrument plugged in for the lifetime of the object.
class InProcessSim {
public:
    InProcessSim(const InstrumentDir& dir, const sim::InstrumentConfig& config, const std::string& name = "");
    sim::SimInstrument& instrument() { return *instrument_; }
    sim::SimServer& server() { return *server_; }
    std::string path() const { return server_->socketPath(); }

private:
    std::shared_ptr<sim::SimInstrument> instrument_;
    std::unique_ptr<sim::SimServer> server_;
};

// lq3sim started with the given options in the directory; ended (SIGTERM) and
// reaped on destruction.
class SimProcess {
public:
    SimProcess(const InstrumentDir& dir, uint32_t serial, const std::vector<std::string>& options = {});
    ~SimProcess();
    std::string path() const { return path_; }
    // Ends the process abruptly, leaving its socket file behind.
    void kill();

private:
    pid_t pid_ = -1;
    std::string path_;
};

// Opens the instrument at `path` through the socket back-end.
std::shared_ptr<impl::IOLQ3_USBImpl> openInstrument(const std::string& path);

}  // namespace testing
}  // namespace tarnix
