#pragma once
// A device for benchmarks of the device state engine: its write queue goes
// nowhere, its FIFOs are real. Its groups are those of the LQ3 instruments.
#include "core/fifo/BufferFifo.h"
#include "core/tree/TreeRegistry.h"
#include "engine/DeviceAccess.h"
#include "engine/DeviceState.h"
#include "groups/FeatureInitMapBuild.h"

#include <memory>

namespace tarnix {
namespace bench {

class NullDevice : public DeviceAccess {
public:
    NullDevice()
        : DeviceAccess(FeatureInitMap()),
          output_(std::make_shared<BufferFifo<65536, 1048576>>()),
          request_(std::make_shared<BufferFifo<1024, 65536>>()) {}
    ~NullDevice() override { DeviceStateDestroy(*this).ignore(); }
    void queueWriteBegin(uint32_t, uint32_t) override {}
    void queueWriteData(const uint8_t*, uint32_t) override {}
    void queueRequestData(uint32_t, uint32_t) override {}
    void flush() override {}
    std::shared_ptr<QVFifo> outputFifo() override { return output_; }
    std::shared_ptr<QVFifo> requestFifo() override { return request_; }
    TreeRegistry& treeRegistry() override { return registry_; }
    uint32_t serial() const override { return 9001; }
    EngineTime now() const override { return EngineClock::now(); }
    void setInitialized() override {}
    void setNeedProgram() override {}

private:
    TreeRegistry registry_;
    std::shared_ptr<QVFifo> output_;
    std::shared_ptr<QVFifo> request_;
};

}  // namespace bench
}  // namespace tarnix
