// Throughput of the FIFOs from one producer thread to one consumer thread, in
// records/s and bytes/s, for records of 20 bytes (value records) and 64 bytes
// (demodulator samples), with the sizes the server builds them with.
//   BufferFifo        one block per read (request and output FIFOs)
//   BufferFifoMerged  merged blocks, up to 2 MiB per read (stream buffers)
//   RingFifo          all that is there per read (session write FIFOs)
#include "core/fifo/BufferFifo.h"
#include "core/fifo/RingFifo.h"

#include <benchmark/benchmark.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

namespace {

using namespace tarnix;

// Records taken per iteration (a merged read may take a little more).
constexpr uint32_t kRecordsPerIteration = 4096;
constexpr uint32_t kMergeLimit = 2 * 1024 * 1024;

// Writes records of a fixed size as fast as the FIFO takes them until stopped.
class Producer {
public:
    Producer(QVFifo& fifo, uint32_t recordSize)
        : record_(recordSize, 0x5A), thread_([this, &fifo] { run(fifo); }) {}
    ~Producer() {
        stop_.store(true, std::memory_order_relaxed);
        thread_.join();
    }

private:
    void run(QVFifo& fifo) {
        const uint32_t size = uint32_t(record_.size());
        while (!stop_.load(std::memory_order_relaxed)) {
            FifoWriter writer(fifo, size);
            if (!writer.isValid()) {
                std::this_thread::yield();
                continue;
            }
            std::memcpy(writer.data(), record_.data(), size);
            writer.commitAll();
        }
    }

    std::vector<uint8_t> record_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

void report(benchmark::State& state, uint64_t bytes, uint32_t recordSize) {
    state.SetItemsProcessed(int64_t(bytes / recordSize));
    state.SetBytesProcessed(int64_t(bytes));
}

// Reads whole blocks; a merged block holds several records.
void runBufferFifo(benchmark::State& state, bool merge) {
    const uint32_t recordSize = uint32_t(state.range(0));
    auto fifo = std::make_unique<BufferFifo<524288, 4194304>>();
    Producer producer(*fifo, recordSize);
    uint64_t checksum = 0;
    uint64_t total = 0;
    for (auto _ : state) {
        uint32_t bytes = 0;
        while (bytes < kRecordsPerIteration * recordSize) {
            if (merge) fifo->mergeBlocks(kMergeLimit);
            FifoReader reader(*fifo);
            if (!reader.isValid()) {
                std::this_thread::yield();
                continue;
            }
            checksum += reader[0];
            bytes += reader.length();
            reader.commitAll();
        }
        total += bytes;
    }
    benchmark::DoNotOptimize(checksum);
    report(state, total, recordSize);
}

void BM_BufferFifo(benchmark::State& state) { runBufferFifo(state, false); }
void BM_BufferFifoMerged(benchmark::State& state) { runBufferFifo(state, true); }

void BM_RingFifo(benchmark::State& state) {
    const uint32_t recordSize = uint32_t(state.range(0));
    auto fifo = std::make_unique<RingFifo<4194304>>();
    Producer producer(*fifo, recordSize);
    uint64_t checksum = 0;
    for (auto _ : state) {
        uint32_t left = kRecordsPerIteration * recordSize;
        while (left > 0) {
            FifoReader reader(*fifo, left);
            if (!reader.isValid()) {
                std::this_thread::yield();
                continue;
            }
            checksum += reader[0];
            left -= reader.length();
            reader.commitAll();
        }
    }
    benchmark::DoNotOptimize(checksum);
    report(state, uint64_t(state.iterations()) * kRecordsPerIteration * recordSize, recordSize);
}

// Building and dropping a device's request FIFO (8 MiB + 524,288 descriptors).
void BM_BuildRequestFifo(benchmark::State& state) {
    for (auto _ : state) {
        auto fifo = std::make_unique<BufferFifo<524288, 8388608>>();
        benchmark::DoNotOptimize(fifo.get());
    }
}

BENCHMARK(BM_BufferFifo)->Arg(20)->Arg(64)->MinTime(0.5)->UseRealTime();
BENCHMARK(BM_BufferFifoMerged)->Arg(20)->Arg(64)->MinTime(0.5)->UseRealTime();
BENCHMARK(BM_RingFifo)->Arg(20)->Arg(64)->MinTime(0.5)->UseRealTime();
BENCHMARK(BM_BuildRequestFifo)->MinTime(0.2);

}  // namespace

BENCHMARK_MAIN();
