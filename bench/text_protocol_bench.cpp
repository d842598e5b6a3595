// Throughput of the text protocol: command lines through the scanner and
// grammar, and demodulator sample blocks through the stream encoder that the
// dispatcher runs for every text subscriber.
#include "core/DataTypes.h"
#include "server/text/AsciiCommandHandler.h"
#include "server/text/AsciiEncoders.h"
#include "server/text/AsciiParser.h"

#include <benchmark/benchmark.h>

#include <string>
#include <vector>

namespace {

using namespace tarnix;

class CountingHandler : public AsciiCommandHandler {
public:
    uint64_t commands = 0;
    void get(const std::string&) override { ++commands; }
    void setInteger(const std::string&, int64_t) override { ++commands; }
    void setDouble(const std::string&, double) override { ++commands; }
    void setText(const std::string&, const std::string&) override { ++commands; }
    void select(const std::string&) override { ++commands; }
    void printPath() override { ++commands; }
    void list(const std::string&, bool) override { ++commands; }
    void subscribe(const std::string&, bool) override { ++commands; }
    void proto(const std::string&) override { ++commands; }
    void update() override { ++commands; }
    void help() override { ++commands; }
    void exit() override { ++commands; }
    void syntaxError() override { ++commands; }
};

void BM_ParseCommandLine(benchmark::State& state) {
    const std::string lines[] = {"/dev1234/demods/0/timeconstant 1.5m\n", "/dev1234/demods/*/rate ?\n",
                                 "/dev1234/oscs/0/freq (1k/3)\n", "ls /dev1234/demods/0\n"};
    CountingHandler handler;
    AsciiParser parser(handler);
    std::size_t bytes = 0;
    for (auto _ : state) {
        for (const std::string& line : lines) {
            parser.parse(line.data(), line.size());
            bytes += line.size();
        }
    }
    state.SetItemsProcessed(int64_t(handler.commands));
    state.SetBytesProcessed(int64_t(bytes));
}
BENCHMARK(BM_ParseCommandLine);

void BM_StreamEncodeDemodSamples(benchmark::State& state) {
    const std::size_t samples = std::size_t(state.range(0));
    std::vector<uint8_t> block(samples * kDemodSampleSize);
    for (std::size_t i = 0; i < samples; ++i) {
        DataDemodSample s;
        s.timeStamp = 1000000 + i * 1000;
        s.x = 1e-3 * double(i);
        s.y = -2e-4 * double(i);
        s.frequency = 1e5;
        s.phase = 0.5;
        encodeDemodSample(&block[i * kDemodSampleSize], s);
    }
    std::vector<uint8_t> out(2 * 1024 * 1024);
    for (auto _ : state) {
        uint32_t length = 0;
        QV_STATUS status = AsciiStreamEncode("/DEV1234/DEMODS/0/SAMPLE", 0, DATATYPE_DEMODSAMPLE, out.data(),
                                             uint32_t(out.size()), length, block.data(), uint32_t(block.size()));
        benchmark::DoNotOptimize(status);
        benchmark::DoNotOptimize(length);
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(samples));
}
BENCHMARK(BM_StreamEncodeDemodSamples)->Arg(1)->Arg(1000);

void BM_ValueEncodeDouble(benchmark::State& state) {
    std::vector<uint8_t> value(8, 0);
    value[6] = 0xF0;
    value[7] = 0x3F;  // 1.0
    std::vector<uint8_t> out(256);
    for (auto _ : state) {
        uint32_t length = 0;
        benchmark::DoNotOptimize(AsciiValueEncode("/DEV1234/DEMODS/0/TIMECONSTANT", 6, 0, DATATYPE_DOUBLE,
                                                  out.data(), uint32_t(out.size()), length, value.data(), 8));
    }
    state.SetItemsProcessed(int64_t(state.iterations()));
}
BENCHMARK(BM_ValueEncodeDouble);

}  // namespace

BENCHMARK_MAIN();
