// Costs the component base adds to every pass of a worker thread, and the
// cost of log statements below and above the threshold.
#include "core/Logging.h"
#include "core/component/ExceptionCarrier.h"
#include "core/component/QVBase.h"
#include "core/component/QVBaseImpl.h"

#include <benchmark/benchmark.h>

#include <boost/log/core.hpp>
#include <boost/log/sinks/basic_sink_backend.hpp>
#include <boost/log/sinks/sync_frontend.hpp>

#include <chrono>
#include <thread>

namespace {

using namespace tarnix;

class IdleImpl : public impl::QVBaseImpl {
public:
    IdleImpl(const std::string& name, exception::ExceptionCarrier& carrier) : QVBaseImpl(name, carrier) {}
    void pre() override {}
    void run() override { std::this_thread::sleep_for(std::chrono::milliseconds(1)); }
};

class Idle : public QVBase {
public:
    Idle(const std::string& name, exception::ExceptionCarrier& carrier)
        : QVBase(std::make_shared<IdleImpl>(name, carrier)) {}
};

class DiscardBackend : public boost::log::sinks::basic_formatted_sink_backend<char> {
public:
    void consume(const boost::log::record_view&, const string_type& text) { benchmark::DoNotOptimize(text.size()); }
};

void BM_LogBelowThreshold(benchmark::State& state) {
    logging::setLogLevel(logging::warning);
    for (auto _ : state) QVLOG(logging::debug) << "value " << 42 << " dropped";
}
BENCHMARK(BM_LogBelowThreshold);

void BM_LogFormattedRecord(benchmark::State& state) {
    typedef boost::log::sinks::synchronous_sink<DiscardBackend> Sink;
    auto sink = boost::make_shared<Sink>();
    boost::log::core::get()->add_sink(sink);
    logging::setLogLevel(logging::warning);
    for (auto _ : state) QVLOG(logging::warning) << "value " << 42 << " written";
    boost::log::core::get()->remove_sink(sink);
}
BENCHMARK(BM_LogFormattedRecord);

void BM_CarrierTakeWhenEmpty(benchmark::State& state) {
    exception::ExceptionCarrier carrier;
    boost::exception_ptr out;
    for (auto _ : state) benchmark::DoNotOptimize(carrier.take(out));
}
BENCHMARK(BM_CarrierTakeWhenEmpty);

// reapChildren() after a pass, with the given number of running children.
void BM_ReapChildren(benchmark::State& state) {
    exception::ExceptionCarrier carrier;
    Idle parent("Parent", carrier);
    std::vector<std::shared_ptr<QVBase>> children;
    for (int i = 0; i < state.range(0); ++i) children.push_back(std::make_shared<Idle>("Child", carrier));
    for (const auto& child : children) child->start();
    parent.implementation()->appendChildren(children);
    for (auto _ : state) parent.implementation()->reapChildren();
    parent.stop();
    while (!parent.isFinished()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}
BENCHMARK(BM_ReapChildren)->Arg(0)->Arg(1)->Arg(8);

}  // namespace

BENCHMARK_MAIN();
