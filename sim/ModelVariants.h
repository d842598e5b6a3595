#pragma once
#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace tarnix {
namespace sim {

// KCtrl amplifier type words (0: nothing plugged in).
constexpr uint32_t kNoAmplifier = 0;
constexpr uint32_t kCurrentAmplifier = 0x81;
constexpr uint32_t kTransimpedanceAmplifier = 0x82;

// One kind of LQ3 the simulator can be: what its feature list announces and
// how its board is built. Every variant uses the same register layout, so the
// streamed data of one reaches the host as it does for any other.
struct ModelVariant {
    std::string name;
    std::string summary;  // one line for lq3sim --help
    uint32_t signalInputs = 2;
    uint16_t demodsVersion = 2;  // feature version of the demodulator record
    uint16_t pllVersion = 1;     // feature version of the PLL record
    // Bits 0-2 of the board register: 0 selects the signal inputs' formula
    // gain mode, any other revision their gain-range tables.
    uint32_t hardwareRevision = 0;
    std::array<uint32_t, 2> kctrlPorts{{kNoAmplifier, kNoAmplifier}};
    uint32_t cpus = 1;
    uint32_t pidControllers = 4;
};

// The named variants; the first one is the default.
const std::vector<ModelVariant>& modelVariants();
// The variant of that name; throws std::invalid_argument naming the known
// ones when there is none.
const ModelVariant& modelVariant(const std::string& name);
// The variants as lq3sim --help lists them, one per line.
std::string modelVariantHelp();

}  // namespace sim
}  // namespace tarnix
