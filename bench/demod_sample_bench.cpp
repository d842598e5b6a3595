// The demodulator sample path: a message of sample packets routed through
// DeviceStateHandleData to DEMODS/n/SAMPLE, converted into DataDemodSamples in
// the stream buffer, with and without the modulator feed. The stream buffer
// is drained between messages as the dispatcher would.
#include "NullDevice.h"
#include "platform/endian/ByteOrder.h"
#include "core/fifo/BufferFifo.h"
#include "core/tree/DispatcherTreeLock.h"
#include "engine/DeviceAccess.h"
#include "engine/DeviceState.h"
#include "engine/MessageHandling.h"
#include "engine/nodedefs/NodeDefFamily.h"
#include "groups/Demods.h"
#include "groups/Mods.h"
#include "groups/data/GroupFamilyData.h"

#include <benchmark/benchmark.h>

#include <vector>

namespace {

using namespace tarnix;
namespace LQ3 = NodeDefs::LQ3;

constexpr uint32_t kSettings = 0x01002000;
constexpr uint32_t kSamples = 0x01002400;
constexpr uint32_t kModulators = 0x01002900;
constexpr uint32_t kDemods = 6;
constexpr uint32_t kSlotBytes = 0x40;

using tarnix::bench::NullDevice;

template <class G>
bool buildGroup(NullDevice& device, FeatureInitFunc init, const std::vector<Feature*>& items) {
    DeviceState& state = *device.deviceState();
    DispatcherTreeLocker lock(state.tree);
    DeviceStateNodeGroup* group = nullptr;
    DeviceStateGetNodeGroup<G>(device, &group, lock.getNode()).ignore();
    return init(device, group, group->node, 2, items, int(items.size())) == QV_NO_ERROR;
}

void drain(const std::vector<std::shared_ptr<BufferFifoBase>>& streams) {
    for (const auto& stream : streams)
        for (;;) {
            FifoReader reader(*stream, 0);
            if (!reader) break;
            reader.commitAll();
        }
}

// Sample packets of demodulators 0 .. 2 (one modulator's set), `perDemod`
// packets each, as consecutive messages of the two slots of each demodulator.
void BM_DemodSamples(benchmark::State& bench) {
    const bool modulated = bench.range(0) != 0;
    NullDevice device;
    if (DeviceStateCreate(device) != QV_NO_ERROR) {
        bench.SkipWithError("device state");
        return;
    }
    DeviceState& state = *device.deviceState();
    Feature* settings = nullptr;
    Feature* samples = nullptr;
    Feature* mods = nullptr;
    FeatureMapInsert(state.features, kSettings, kDemods, kSlotBytes, 0, "DEMODS  ", &settings).ignore();
    FeatureMapInsert(state.features, kSamples, 2 * kDemods, kSlotBytes, 0, "DEMODS  ", &samples).ignore();
    FeatureMapInsert(state.features, kModulators, 2, 0x20, 0, "MODS    ", &mods).ignore();
    familyDataOf(state).shared.auxInputCount = 1;
    if (!buildGroup<LQ3::Mods>(device, ModsFeatureInit, {mods}) ||
        !buildGroup<LQ3::Demods>(device, DemodsFeatureInit, {settings, samples})) {
        bench.SkipWithError("groups");
        return;
    }
    for (uint32_t d = 0; d < kDemods; ++d) state.groups.demodInputIndex[d] = 0;  // aux input 0: gain 1
    familyDataOf(state).signalPath.modMode[0] = modulated ? 2 : 0;                    // "AM upper"

    std::vector<std::shared_ptr<BufferFifoBase>> streams;
    for (const auto& entry : state.epNodes.nodes)
        if (entry.second->stream) streams.push_back(entry.second->stream);

    std::vector<uint8_t> message(2 * kSlotBytes * 3);
    for (uint32_t slot = 0; slot < 6; ++slot) {
        uint8_t* p = message.data() + slot * kSlotBytes;
        le::put32(p, slot);
        le::put16(p + 6, 0x80);
        le::put64(p + 8, uint64_t(1) << 61);
        le::put64(p + 16, uint64_t(1) << 59);
        le::put32(p + 24, 1u << 30);
    }
    int64_t packets = 0;
    for (auto _ : bench) {
        const QV_STATUS s = DeviceStateHandleData(device, kSamples, uint32_t(message.size()), message.data());
        benchmark::DoNotOptimize(s);
        packets += 6;
        if ((packets & 0xFFF) < 6) {
            bench.PauseTiming();
            drain(streams);
            bench.ResumeTiming();
        }
    }
    bench.SetItemsProcessed(packets);
    bench.counters["samples/s"] = benchmark::Counter(double(packets), benchmark::Counter::kIsRate);
}

BENCHMARK(BM_DemodSamples)->Arg(0)->Arg(1)->MinTime(1.0);

}  // namespace

BENCHMARK_MAIN();
