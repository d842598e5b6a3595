#pragma once
// Builds small device trees for the node-tree tests and removes them again, so
// that every test leaves its registry as it found it.
#include "core/DataTypes.h"
#include "core/fifo/BufferFifo.h"
#include "core/tree/DispatcherTreeLock.h"
#include "core/tree/NodeDef.h"
#include "core/tree/TreeEndpoints.h"
#include "core/tree/TreeRegistry.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace tarnix {
namespace test {

typedef BufferFifo<128, 65536> SmallFifo;

// A node as a definition would make it: a plain name, or the index alone when
// the name is empty.
inline TreeNode::Ptr addNode(const TreeNode::Ptr& parent, const std::string& name, int32_t order = 1) {
    auto node = std::make_shared<TreeNode>();
    applyNodeIdentity(*node, name.empty() ? nullptr : name.c_str(), NodeNameKind::Plain, order, 100);
    return TreeNode::addChild(parent, node);
}

// A leaf with an endpoint; needs the tree's lock.
inline TreeNode::Ptr addLeaf(const std::shared_ptr<DispatcherTree>& tree, const TreeNode::Ptr& parent,
                             const std::string& name, int32_t* id = nullptr) {
    TreeNode::Ptr node = addNode(parent, name);
    EXPECT_EQ(DispatcherTreeAddEndpoint(tree, node, 0, id), QV_NO_ERROR);
    return node;
}

// DEMODS/0..instances-1/{TIMECONSTANT,RATE,SAMPLE} and SIGINS/0/RANGE below root.
inline void buildDemoDevice(const DispatcherTreeLock& lock, int instances = 4) {
    const auto& tree = lock.getTree();
    TreeNode::Ptr demods = addNode(lock.getNode(), "DEMODS", 7);
    for (int i = 0; i < instances; ++i) {
        TreeNode::Ptr instance = addNode(demods, "");
        for (const char* leaf : {"TIMECONSTANT", "RATE", "SAMPLE"}) addLeaf(tree, instance, leaf);
    }
    TreeNode::Ptr sigins = addNode(lock.getNode(), "SIGINS", 8);
    addLeaf(tree, addNode(sigins, ""), "RANGE");
}

// A device tree that exists for the lifetime of the object.
class ScopedTree {
public:
    typedef std::function<void(const DispatcherTreeLock&)> Builder;

    ScopedTree(TreeRegistry& registry, TreeId id, Builder build = buildDemoDeviceDefault(),
                        std::shared_ptr<QVFifo> requestFifo = std::make_shared<SmallFifo>())
        : requestFifo_(std::move(requestFifo)) {
        DispatcherTreeCreator creator(registry, id, outputFifo_, requestFifo_);
        if (build) build(creator);
        tree_ = creator.getTree();
    }
    ~ScopedTree() {
        if (tree_) DispatcherTreeRemover remover(tree_);
    }
    ScopedTree(const ScopedTree&) = delete;
    ScopedTree& operator=(const ScopedTree&) = delete;

    const std::shared_ptr<DispatcherTree>& tree() const { return tree_; }
    const TreeNode::Ptr& root() const { return tree_->root; }
    QVFifo& requests() const { return *requestFifo_; }
    // Removes the tree now (as the device's end would).
    void remove() {
        if (tree_) DispatcherTreeRemover remover(tree_);
        tree_.reset();
    }

    static Builder buildDemoDeviceDefault() {
        return [](const DispatcherTreeLock& lock) { buildDemoDevice(lock); };
    }

private:
    std::shared_ptr<QVFifo> outputFifo_ = std::make_shared<SmallFifo>();
    std::shared_ptr<QVFifo> requestFifo_;
    std::shared_ptr<DispatcherTree> tree_;
};

// Every record in the FIFO, consumed.
inline std::vector<std::vector<uint8_t>> drainRecords(QVFifo& fifo) {
    std::vector<std::vector<uint8_t>> records;
    for (;;) {
        FifoReader reader(fifo, 0);
        if (!reader.isValid()) break;
        records.emplace_back(reader.data(), reader.end());
        reader.commitAll();
    }
    return records;
}

inline std::vector<std::string> childNames(const TreeNode::Ptr& node) {
    std::vector<std::string> names;
    for (const auto& child : node->children()) names.push_back(child->getName());
    return names;
}

}  // namespace test
}  // namespace tarnix
