#include "engine/DeviceAccess.h"

#include "platform/endian/ByteOrder.h"
#include "core/QVException.h"
#include "core/fifo/QVFifo.h"
#include "engine/DeviceState.h"

namespace tarnix {

DeviceAccess::DeviceAccess(const FeatureInitMapTable& featureInitMap) : featureInitMap_(&featureInitMap) {}
DeviceAccess::~DeviceAccess() = default;

QVFifo& outputOf(DeviceAccess& device) {
    QVFifo* fifo = device.outputFifo().get();
    if (!fifo) QV_THROW(QVException("Device has no output FIFO."));
    return *fifo;
}

void queueRegisterWrite(DeviceAccess& device, uint32_t address, const uint8_t* data, uint32_t length) {
    device.queueWriteBegin(address, length);
    device.queueWriteData(data, length);
}

void queueRegisterWord(DeviceAccess& device, uint32_t address, uint32_t word) {
    uint8_t bytes[4];
    le::put32(bytes, word);
    queueRegisterWrite(device, address, bytes, sizeof bytes);
}

}  // namespace tarnix
