#include "groups/common/GroupLeaf.h"

#include "engine/RegisterHandlers.h"

#include <utility>

namespace tarnix {

void BindRegisterSetting(DeviceStateEPNode& ep, ReadDataFunc read, WriteNumberFunc write, UpdateDataFunc update) {
    ep.readData = std::move(read);
    ep.writeNumber = std::move(write);
    ep.updateData = std::move(update);
    ep.writeData = DeviceStateEPWriteRegisters;
    ep.requestData = DeviceStateEPRequestRegisters;
}

void BindReadOnlyRegister(DeviceStateEPNode& ep, ReadDataFunc read, UpdateDataFunc update) {
    ep.readData = std::move(read);
    ep.updateData = std::move(update);
}

void BindServerSetting(DeviceStateEPNode& ep, ReadDataFunc read, WriteNumberFunc write) {
    ep.readData = std::move(read);
    ep.writeNumber = std::move(write);
}

}  // namespace tarnix
