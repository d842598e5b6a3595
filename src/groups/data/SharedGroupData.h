#pragma once
// Per-device state that several families of groups read: instance counts, the
// signal inputs' gain tables and the demodulators' oscillators. Kept in the
// device state's group store (GroupFamilyData.h) and used only on the device
// thread. What the engine itself initialises stays in DeviceStateGroupData.
#include <array>
#include <cstdint>

namespace tarnix {

struct SharedGroupData {
    // Instances of each group, as built from the feature list.
    uint32_t oscillatorCount = 0;
    uint32_t demodulatorCount = 0;
    uint32_t pllCount = 0;
    uint32_t pidCount = 0;
    uint32_t signalInputCount = 0;
    uint32_t auxInputCount = 0;
    uint32_t auxOutputCount = 0;
    uint32_t dioCount = 0;
    uint32_t modulatorCount = 0;

    // Calibration factor per 8-bit gain code of signal input 0 and 1.
    std::array<double, 256> gainTable0 = filled(1.0);
    std::array<double, 256> gainTable1 = filled(1.0);

    // The oscillator each demodulator uses: 0 to 7 at creation.
    std::array<int, 8> demodOscSelect{{0, 1, 2, 3, 4, 5, 6, 7}};

private:
    static std::array<double, 256> filled(double v) {
        std::array<double, 256> a;
        a.fill(v);
        return a;
    }
};

}  // namespace tarnix
