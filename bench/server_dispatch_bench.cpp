// Dispatcher throughput: value changes of one device tree delivered to a
// number of subscribed sessions (converted once per protocol), measured on
// the dispatcher's pass without its sleeps.
#include "core/ValueRecord.h"
#include "core/component/ExceptionCarrier.h"
#include "core/fifo/BufferFifo.h"
#include "core/tree/DispatcherTreeLock.h"
#include "core/tree/NodeDef.h"
#include "core/tree/Subscriptions.h"
#include "core/tree/TreeEndpoints.h"
#include "server/dispatcher/Dispatcher.h"
#include "server/dispatcher/DispatcherImpl.h"
#include "server/server/ServerContext.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <vector>

namespace {

using namespace tarnix;

QV_STATUS copyValue(const std::string&, uint16_t, uint16_t, uint16_t, uint8_t* out, uint32_t capacity,
                    uint32_t& length, const uint8_t* data, uint32_t dataLength) {
    length = dataLength < capacity ? dataLength : capacity;
    std::memcpy(out, data, length);
    return QV_NO_ERROR;
}

struct CountingSession : SessionActionsInterface {
    CountingSession(ServerContext& serverContext, uint16_t id) : server(serverContext) {
        client.sessionId = id;
        client.context = this;
        client.writeFunction = [](const uint8_t*, uint32_t n, SessionActionsInterface* c, int32_t) {
            static_cast<CountingSession*>(c)->bytes += n;
            return 0;
        };
    }
    ~CountingSession() override { DispatcherRemoveClient(server.treeRegistry(), &client).ignore(); }
    InterfaceType getInterface() const override { return INTERFACE_TEXT; }
    void requestInterface(InterfaceType) override {}
    void close() override {}
    void write(const uint8_t*, uint32_t, int32_t) override {}
    SessionClient* getClient() override { return &client; }
    ServerContext& serverContext() override { return server; }
    ServerContext& server;
    SessionClient client;
    uint64_t bytes = 0;
};

void ValueChangesToSubscribers(benchmark::State& state) {
    ProtocolHooks hooks;
    hooks.valueEncode = copyValue;
    ServerContext context;
    setProtocolHooks(context.protocols(), INTERFACE_TEXT, hooks);
    exception::ExceptionCarrier carrier;
    Dispatcher dispatcher(carrier, context);
    auto output = std::make_shared<BufferFifo<65536, 1048576>>();
    auto request = std::make_shared<BufferFifo<16, 4096>>();
    std::shared_ptr<DispatcherTree> tree;
    int32_t id = -1;
    {
        DispatcherTreeCreator creator(context.treeRegistry(), TreeId::device(1), output, request);
        tree = creator.getTree();
        auto node = std::make_shared<TreeNode>();
        applyNodeIdentity(*node, "X", NodeNameKind::Plain, 1, 99);
        TreeNode::addChild(creator.getNode(), node);
        DispatcherTreeAddEndpoint(tree, node, 0, &id).ignore();
    }
    std::vector<std::unique_ptr<CountingSession>> sessions;
    for (int i = 0; i < state.range(0); ++i) {
        sessions.emplace_back(new CountingSession(context, uint16_t(100 + i)));
        UniqueLock<SharedTimedMutex> lock(context.treeRegistry().treeSubscriptionMutex());
        assertSameMutex(context.treeRegistry().treeSubscriptionMutex(), tree->subscriptionMutex);
        const std::shared_ptr<Endpoint>& endpoint = tree->endpoints.at(id);
        assertSameMutex(tree->subscriptionMutex, endpoint->subscriptionMutex);
        EndpointAddClient(endpoint, &sessions.back()->client).ignore();
    }
    for (auto _ : state) {
        ReturnParamValueDouble(*output, 0, kUnsolicitedSessionTag, uint32_t(id), VALUE_FLAG_CHANGED, 1.5).ignore();
        benchmark::DoNotOptimize(dispatcher.impl().pass(false));
    }
    state.SetItemsProcessed(state.iterations());
    state.counters["deliveries/s"] =
        benchmark::Counter(double(state.iterations() * state.range(0)), benchmark::Counter::kIsRate);
    sessions.clear();
    { DispatcherTreeRemover remover(tree); }
}

BENCHMARK(ValueChangesToSubscribers)->Arg(1)->Arg(10)->Arg(50)->MinTime(0.5);

}  // namespace

BENCHMARK_MAIN();
