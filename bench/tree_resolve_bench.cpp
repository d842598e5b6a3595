// Path resolution on one device tree of realistic size (about 1,500 nodes):
// a concrete path, a wildcard over the instances of one group and a wildcard
// over every leaf. Reports resolutions per second.
#include "core/fifo/BufferFifo.h"
#include "core/tree/DispatcherTreeLock.h"
#include "core/tree/NodeDef.h"
#include "core/tree/PathResolution.h"
#include "core/tree/TreeEndpoints.h"
#include "core/tree/TreeRegistry.h"

#include <benchmark/benchmark.h>

#include <memory>
#include <shared_mutex>

namespace {

using namespace tarnix;

constexpr const char* kGroups[] = {"DEMODS", "OSCS",   "MODS",   "PLLS",  "PIDS",   "SIGINS", "SIGOUTS", "SCOPES",
                                   "DIOS",   "AUXINS", "AUXOUTS", "CPUS", "KCTRLS", "STATUS", "SYSTEM",  "STATS"};
constexpr const char* kLeaves[] = {"TIMECONSTANT", "RATE",    "ORDER", "ADCSELECT", "OSCSELECT", "HARMONIC",
                                   "PHASESHIFT",   "TRIGGER", "SINC",  "ENABLE",    "SAMPLE"};
constexpr int kInstances = 8;

TreeNode::Ptr addNode(const TreeNode::Ptr& parent, const char* name, int32_t order) {
    auto node = std::make_shared<TreeNode>();
    applyNodeIdentity(*node, name, NodeNameKind::Plain, order, 100);
    return TreeNode::addChild(parent, node);
}

// DEV1234 with 16 groups x 8 instances x 11 leaves: 1,553 nodes, 1,408 endpoints.
class BenchDevice {
public:
    explicit BenchDevice(TreeRegistry& registry) {
        DispatcherTreeCreator creator(registry, TreeId::device(1234), std::make_shared<BufferFifo<128, 65536>>(),
                                      std::make_shared<BufferFifo<128, 65536>>());
        int32_t order = 1;
        for (const char* group : kGroups) {
            TreeNode::Ptr groupNode = addNode(creator.getNode(), group, order++);
            for (int i = 0; i < kInstances; ++i) {
                TreeNode::Ptr instance = addNode(groupNode, nullptr, 1);
                for (const char* leaf : kLeaves)
                    DispatcherTreeAddEndpoint(creator.getTree(), addNode(instance, leaf, 1), 0, nullptr).ignore();
            }
        }
        tree_ = creator.getTree();
    }
    ~BenchDevice() { DispatcherTreeRemover remover(tree_); }

private:
    std::shared_ptr<DispatcherTree> tree_;
};

void resolve(benchmark::State& state, const char* path, size_t expected) {
    TreeRegistry registry;
    BenchDevice device(registry);
    SharedLock<SharedTimedMutex> lock(registry.treeStructureMutex());
    for (auto _ : state) {
        NodeSet set;
        DispatcherResolvePathList(registry, set, "", path);
        if (set.size() != expected) state.SkipWithError("unexpected node count");
        benchmark::DoNotOptimize(set);
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_ResolveConcrete(benchmark::State& state) { resolve(state, "/dev1234/demods/3/timeconstant", 1); }
void BM_ResolveInstanceWildcard(benchmark::State& state) { resolve(state, "/dev1234/demods/*/rate", kInstances); }
void BM_ResolveEveryLeaf(benchmark::State& state) { resolve(state, "/dev*/*/*/*", 1408); }

}  // namespace

BENCHMARK(BM_ResolveConcrete)->MinTime(0.5);
BENCHMARK(BM_ResolveInstanceWildcard)->MinTime(0.5);
BENCHMARK(BM_ResolveEveryLeaf)->MinTime(0.5);
BENCHMARK_MAIN();
