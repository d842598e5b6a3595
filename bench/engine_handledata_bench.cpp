// Routing of device data: DeviceStateHandleData over a stream of 4 KiB register
// blocks, each covering 64 instances of one register block with four bound
// 4-byte fields per instance (256 endpoint updates per block).
#include "NullDevice.h"
#include "platform/endian/ByteOrder.h"
#include "core/fifo/BufferFifo.h"
#include "core/tree/DispatcherTreeLock.h"
#include "engine/DeviceAccess.h"
#include "engine/DeviceState.h"
#include "engine/MessageHandling.h"
#include "engine/RegisterHandlers.h"
#include "engine/nodedefs/NodeDefFamily.h"
#include "engine/nodedefs/TabledNodeDef.h"

#include <benchmark/benchmark.h>

#include <vector>

namespace {

using namespace tarnix;

struct BenchLeaf : PlainNodeDef<BenchLeaf, 1, 252> {
    static constexpr const char* name = "FIELD";
    static constexpr HelpItem helpItems[] = {helpText("short", "benchmark field")};
};

using tarnix::bench::NullDevice;

// Stores the register word; pushes it only when it changed (none do here after
// the first block, as for registers that are polled but steady).
QV_STATUS storeWordOnChange(DeviceAccess&, const EPNodePtr& ep, const uint8_t* data, uint32_t length) {
    if (length < 4) return QV_BUFFER_TOO_SMALL;
    storeWord(*ep, le::get32(data));
    return QV_NO_ERROR;
}

void BM_HandleData4KiB(benchmark::State& bench) {
    constexpr uint32_t kBase = 0x01000000;
    constexpr uint32_t kInstances = 64;
    constexpr uint32_t kStride = 64;
    constexpr uint32_t kBlockBytes = kInstances * kStride;  // 4 KiB
    NullDevice device;
    if (DeviceStateCreate(device) != QV_NO_ERROR) {
        bench.SkipWithError("device state");
        return;
    }
    DeviceState& state = *device.deviceState();
    Feature* item = nullptr;
    FeatureMapInsert(state.features, kBase, kInstances, kStride, 0, "BENCH   ", &item).ignore();
    // Further blocks, so that lookups search a realistically filled map.
    for (uint32_t i = 1; i < 40; ++i) FeatureMapInsert(state.features, kBase + i * 0x10000, 8, 0x100, 0, "OTHER   ").ignore();
    {
        DispatcherTreeLocker lock(state.tree);
        DeviceStateNodeGroup* group = nullptr;
        DeviceStateGetNodeGroup<BenchLeaf>(device, &group, lock.getNode()).ignore();
        const int row = DeviceStateRowOf(device, item);
        for (uint32_t instance = 0; instance < kInstances; ++instance)
            for (int field = 0; field < 4; ++field) {
                EPNodePtr ep = DeviceStateCreateEP<BenchLeaf>(device, group, group->node, 4, 4, row,
                                                               int(instance), 4 * field, -1);
                ep->updateData = storeWordOnChange;
            }
    }
    std::vector<uint8_t> block(kBlockBytes);
    for (uint32_t i = 0; i < kBlockBytes; ++i) block[i] = uint8_t(i * 7);
    for (auto _ : bench) {
        QV_STATUS s = DeviceStateHandleData(device, kBase, kBlockBytes, block.data());
        benchmark::DoNotOptimize(s);
    }
    bench.SetItemsProcessed(bench.iterations());
    bench.SetBytesProcessed(int64_t(bench.iterations()) * kBlockBytes);
    bench.counters["msgs/s"] = benchmark::Counter(double(bench.iterations()), benchmark::Counter::kIsRate);
}

BENCHMARK(BM_HandleData4KiB)->MinTime(1.0);

}  // namespace

BENCHMARK_MAIN();
