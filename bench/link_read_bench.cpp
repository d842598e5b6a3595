// Device-to-host throughput of the instrument link: a simulated instrument
// streams messages over its socket; the host takes them through the driver
// layer, the double-buffered reads and the read engine, one poll per message,
// exactly as the device loop does.
#include "SimServer.h"
#include "link/DeviceID.h"
#include "link/IOLQ3_USBImpl.h"
#include "platform/usb/SocketBackend.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <ftw.h>
#include <stdexcept>
#include <unistd.h>
#include <vector>

namespace {

using namespace tarnix;

constexpr int kIterations = 40;
constexpr uint32_t kStreamAddress = 0x00403000;

int removeEntry(const char* path, const struct stat*, int, FTW*) { return ::remove(path); }

// A streaming instrument plugged into a private directory, and the host's
// connection to it.
class StreamingInstrument {
public:
    explicit StreamingInstrument(uint32_t payloadBytes) {
        char pattern[] = "/tmp/lq3bench-XXXXXX";
        if (!::mkdtemp(pattern)) throw std::runtime_error("mkdtemp failed");
        dir_ = pattern;
        sim::InstrumentConfig config;
        config.fpgaRunning = true;
        instrument_ = std::make_shared<sim::SimInstrument>(config);
        server_.reset(new sim::SimServer(instrument_, dir_ + "/lq3.sock"));
        server_->start();
        id_ = std::make_shared<detail::DeviceID_USB>(dir_ + "/lq3.sock");
        usb_ = impl::IOLQ3_USBImpl::create(id_, std::make_shared<platform::usb::SocketBackend>(dir_));
        instrument_->startStream(kStreamAddress, payloadBytes);
    }
    ~StreamingInstrument() {
        usb_.reset();
        server_->stop();
        ::nftw(dir_.c_str(), removeEntry, 4, FTW_DEPTH | FTW_PHYS);
    }
    impl::IOLQ3_USBImpl& usb() { return *usb_; }

private:
    std::string dir_;
    std::shared_ptr<sim::SimInstrument> instrument_;
    std::unique_ptr<sim::SimServer> server_;
    std::shared_ptr<DeviceID> id_;
    std::shared_ptr<impl::IOLQ3_USBImpl> usb_;
};

void BM_DeviceToHostMessages(benchmark::State& state) {
    const uint32_t payload = static_cast<uint32_t>(state.range(0));
    const uint32_t perIteration = payload <= 64 ? 100000 : 10000;
    StreamingInstrument instrument(payload);
    std::vector<uint8_t> messageBuffer(512 * 1024);  // as the device loop's
    const uint64_t wireBefore = instrument.usb().readEngine().bytesConsumed();
    uint64_t messages = 0;
    uint64_t bytes = 0;
    for (auto _ : state) {
        for (uint32_t i = 0; i < perIteration; ++i) {
            uint32_t address = 0;
            uint32_t length = 0;
            instrument.usb().poll(&address, &length, messageBuffer.data(), uint32_t(messageBuffer.size()), 200,
                                  impl::IOLQ3_USBImpl::timeOfDayMicros());
            if (length != payload || address != kStreamAddress) {
                state.SkipWithError("a message was lost or damaged");
                return;
            }
            bytes += length;
        }
        messages += perIteration;
    }
    const uint64_t wire = instrument.usb().readEngine().bytesConsumed() - wireBefore;
    state.SetItemsProcessed(int64_t(messages));
    state.SetBytesProcessed(int64_t(bytes));
    state.counters["msgs/s"] = benchmark::Counter(double(messages), benchmark::Counter::kIsRate);
    state.counters["payload_MB/s"] = benchmark::Counter(double(bytes) / 1e6, benchmark::Counter::kIsRate);
    state.counters["wire_MB/s"] = benchmark::Counter(double(wire) / 1e6, benchmark::Counter::kIsRate);
    state.counters["skipped"] = double(instrument.usb().readEngine().messagesSkipped());
}

BENCHMARK(BM_DeviceToHostMessages)
    ->Arg(64)
    ->Arg(4096)
    ->Iterations(kIterations)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
