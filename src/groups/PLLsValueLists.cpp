#include "groups/PLLs.h"

namespace tarnix {
namespace NodeDefs {
namespace LQ3 {

namespace {

using ValueList = std::vector<NodeValueListEntry>;

ValueList offOnEntries(const char* off, const char* on) { return {{off, 0}, {on, 1}}; }

}  // namespace

const ValueList& PLLs::Instance::ADCSelect::values() {
    static const ValueList list{{"Signal Input 1", 0}, {"Signal Input 2", 1}, {"Aux Input 1", 2},
                                {"Aux Input 2", 3},    {"DIO 0", 4},          {"DIO 1", 5}};
    return list;
}

const ValueList& PLLs::Instance::Enable::values() {
    static const ValueList list = offOnEntries("PLL off", "PLL on");
    return list;
}

const ValueList& PLLs::Instance::AutoCenter::values() {
    static const ValueList list = offOnEntries("Autocenter off", "Autocenter on");
    return list;
}

const ValueList& PLLs::Instance::AutoTimeConstant::values() {
    static const ValueList list = offOnEntries("External time constant off", "External time constant on");
    return list;
}

const ValueList& PLLs::Instance::AutoPID::values() {
    static const ValueList list = offOnEntries("External PID off", "External PID on");
    return list;
}

const ValueList& PLLs::Instance::Order::values() {
    static const ValueList list{{"6dB/oct slope", 1},  {"12dB/oct slope", 2}, {"18dB/oct slope", 3},
                                {"24dB/oct slope", 4}, {"30dB/oct slope", 5}, {"36dB/oct slope", 6},
                                {"42dB/oct slope", 7}, {"48dB/oct slope", 8}};
    return list;
}

}  // namespace LQ3
}  // namespace NodeDefs
}  // namespace tarnix
