#include "groups/PIDs.h"

namespace tarnix {
namespace NodeDefs {
namespace LQ3 {

namespace {

using ValueList = std::vector<NodeValueListEntry>;

// The three on/off leaves each have a list of their own with these entries.
ValueList offOnEntries() { return {{"OFF", 0}, {"ON", 1}}; }

}  // namespace

const ValueList& PIDs::Instance::Input::values() {
    static const ValueList list{{"Demodulator X value [Vrms]", 0},
                                {"Demodulator Y value [Vrms]", 1},
                                {"Demodulator R value [Vrms]", 2},
                                {"Demodulator Theta value [deg]", 3},
                                {"Auxin [V]", 4},
                                {"Auxout (as input) [V]", 5},
                                {"Modulation Index [0,1]", 6},
                                {"Dual Frequency Tracking |Z(n+)| - |Z(n)| [Vrms]", 7},
                                {"Demodulator x(n+1) - x(n) [Vrms]", 8},
                                {"Demodulator |z(n+1) - z(n)| [Vrms]", 9},
                                {"Oscillator Frequency [Hz]", 10}};
    return list;
}

const ValueList& PIDs::Instance::Output::values() {
    static const ValueList list{{"Sigout 1 [Vrms]", 0},
                                {"Sigout 2 [Vrms]", 1},
                                {"Oscout [Hz]", 2},
                                {"Auxout (manual mode) [V]", 3},
                                {"DIO [5V-TTL]", 4}};
    return list;
}

const ValueList& PIDs::Instance::SetPointSelect::values() {
    static const ValueList list{{"Manual Setpoint", 0}, {"Aux Input 1", 1}, {"Aux Input 2", 2}, {"PID n", 3}};
    return list;
}

const ValueList& PIDs::Instance::OutputDefaultEnable::values() {
    static const ValueList list = offOnEntries();
    return list;
}

const ValueList& PIDs::Instance::Enable::values() {
    static const ValueList list = offOnEntries();
    return list;
}

const ValueList& PIDs::Instance::TipProtect::Enable::values() {
    static const ValueList list = offOnEntries();
    return list;
}

}  // namespace LQ3
}  // namespace NodeDefs
}  // namespace tarnix
