#pragma once
#include "InstrumentConfig.h"
#include "ModelOptions.h"

#include <cstdint>
#include <string>

namespace tarnix {
namespace sim {

// What lq3sim is asked to simulate.
struct SimOptions {
    InstrumentConfig instrument;
    ModelOptions model;
    std::string directory;   // instrument directory
    std::string socketName;  // file name of the socket in it
    uint32_t streamAddress = 0;
    uint32_t streamBytes = 0;  // 0: no stream
    uint64_t streamCount = 0;
    bool help = false;
    std::string helpText;
};

// The digest of the FPGA configuration that this build embeds in the server.
std::array<uint8_t, 16> builtInDesignDigest();

// Parses the command line; throws std::exception with a readable message on
// bad input.
SimOptions parseSimOptions(int argc, const char* const* argv);

// The socket's full path.
std::string socketPathOf(const SimOptions& options);

}  // namespace sim
}  // namespace tarnix
