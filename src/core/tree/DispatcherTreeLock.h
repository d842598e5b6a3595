#pragma once
#include "core/tree/DispatcherTree.h"
#include "platform/thread/Mutex.h"

#include <memory>
#include <mutex>

namespace tarnix {

// Scoped lock for creating, building and removing a tree: the structure and
// subscription mutexes exclusively, then the tree's own mutex. Opened through
// DispatcherTreeCreator, DispatcherTreeLocker or DispatcherTreeRemover. A thread
// may hold only one at a time (a second one would deadlock; it throws instead).
// Tree-change notices raised while it is open are delivered after it closes.
class DispatcherTreeLock {
public:
    DispatcherTreeLock(const DispatcherTreeLock&) = delete;
    DispatcherTreeLock& operator=(const DispatcherTreeLock&) = delete;
    virtual ~DispatcherTreeLock();

    const std::shared_ptr<DispatcherTree>& getTree() const { return tree_; }
    const TreeNode::Ptr& getNode() const { return node_; }

protected:
    // Takes the registry's two mutexes exclusively and counts the lock open.
    explicit DispatcherTreeLock(TreeRegistry& registry);
    // Keeps the tree and its root and locks the tree's mutex.
    void hold(std::shared_ptr<DispatcherTree> tree);

private:
    // Held from construction to destruction, which the analysis cannot
    // follow across functions: code inside the lock says so with
    // DispatcherTreeLockAssertHeld.
    TreeRegistry& registry_;
    std::unique_lock<SharedTimedMutex::Native> structureLock_;
    std::unique_lock<SharedTimedMutex::Native> subscriptionLock_;
    std::shared_ptr<DispatcherTree> tree_;
    TreeNode::Ptr node_;
    std::unique_lock<Mutex::Native> treeLock_;
};

// Builds a new, empty tree with a DEV root node, indexed by the serial number
// (the server's tree gets index 0 and renames its root itself), and registers
// it in the registry. The caller adds nodes and endpoints while it is open.
// A listed tree's root goes below the root node at once; an unlisted one's
// only when the tree is announced (DispatcherNotifyDeviceConnected): until
// then no path reaches it and no listing shows it.
class DispatcherTreeCreator : public DispatcherTreeLock {
public:
    DispatcherTreeCreator(TreeRegistry& registry, TreeId id, std::shared_ptr<QVFifo> outputFifo,
                          std::shared_ptr<QVFifo> requestFifo, bool listed = true);
};

// Opens the lock on an existing tree (for rebuilding parts of it), in the
// tree's own registry.
class DispatcherTreeLocker : public DispatcherTreeLock {
public:
    explicit DispatcherTreeLocker(std::shared_ptr<DispatcherTree> tree);
};

// Opens the lock and dismantles the tree: unregisters it, drops every
// subscriber, clears its endpoint tables and takes its nodes out of the tree.
class DispatcherTreeRemover : public DispatcherTreeLock {
public:
    explicit DispatcherTreeRemover(std::shared_ptr<DispatcherTree> tree);
};

// Puts the root of a registered tree that was created unlisted below the root
// node. Nothing when it is there already or its tree is no longer registered.
// The calling thread must hold no DispatcherTreeLock.
void DispatcherTreeList(TreeRegistry& registry, const TreeNode::Ptr& treeRoot);

// True when the calling thread holds a DispatcherTreeLock.
bool DispatcherTreeLockHeld();

// Throws QVException "Not locked." unless the calling thread holds a
// DispatcherTreeLock in the registry whose subscription mutex this is; the
// analysis then takes the mutex as held (the lock holds it exclusively).
void DispatcherTreeLockAssertHeld(const SharedTimedMutex& subscriptionMutex) QV_ASSERT_CAPABILITY(subscriptionMutex);

// Sibling order of a tree's root below the root node: the server's tree first,
// then the devices by serial number.
int64_t DispatcherTreeSiblingOrder(TreeId id);

}  // namespace tarnix
