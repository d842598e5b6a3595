#include "core/fifo/BufferFifo.h"
#include "engine/DeviceState.h"
#include "engine/MessageHandling.h"

namespace tarnix {

bool DeviceStateStreamsHaveRoom(DeviceAccess& device, uint32_t bytes) {
    DeviceState& state = stateOf(device);
    if (state.streamBuffersChangeCounter != state.epNodes.changeCounter) {
        state.streamBuffers.clear();
        for (const auto& entry : state.epNodes.nodes)
            if (entry.second->stream) state.streamBuffers.push_back(entry.second->stream);
        state.streamBuffersChangeCounter = state.epNodes.changeCounter;
    }
    for (const std::shared_ptr<BufferFifoBase>& buffer : state.streamBuffers) {
        // A trial reservation, given up at once: this thread is the only writer.
        FifoWriter probe(*buffer, bytes);
        if (!probe.isValid()) return false;
    }
    return true;
}

}  // namespace tarnix
