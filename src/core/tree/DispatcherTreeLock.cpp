#include "core/tree/DispatcherTreeLock.h"

#include "core/Logging.h"
#include "core/QVException.h"
#include "core/tree/FailedRequests.h"
#include "core/tree/NodeDef.h"
#include "core/tree/TreeNotices.h"
#include "core/tree/TreeRegistry.h"

#include <algorithm>

namespace tarnix {

namespace {

// Tree locks held by this thread. "Not locked." checks ask this, so a thread
// cannot change a tree merely because another thread happens to hold a lock.
thread_local int tTreeLocksHeld = 0;
// The registry of the tree lock this thread holds.
thread_local TreeRegistry* tLockedRegistry = nullptr;

void detachFromRoot(const TreeNode::Ptr& root, const TreeNode::Ptr& node) {
    const auto& siblings = root->children();
    if (std::find(siblings.begin(), siblings.end(), node) != siblings.end()) root->removeChild(node);
}

// Name and place among the trees, before the node is below the root.
void placeUnlisted(const TreeNode::Ptr& node, TreeId id) {
    // Serial numbers of 2^31 and above wrap here; the display name prints the
    // index unsigned, so the device still shows its true number.
    node->setIndex(static_cast<int32_t>(id.serial()));
    node->setSiblingOrder(DispatcherTreeSiblingOrder(id));
}

void attachToRoot(const TreeNode::Ptr& root, const TreeNode::Ptr& node, TreeId id) {
    TreeNode::addChild(root, node);
    placeUnlisted(node, id);  // again: adding numbers the child
    root->sortChildren();
}

}  // namespace

bool DispatcherTreeLockHeld() { return tTreeLocksHeld > 0; }

void DispatcherTreeLockAssertHeld(const SharedTimedMutex& subscriptionMutex) {
    if (tTreeLocksHeld == 0 || &tLockedRegistry->treeSubscriptionMutex() != &subscriptionMutex)
        QV_THROW(QVException("Not locked."));
}

int64_t DispatcherTreeSiblingOrder(TreeId id) {
    // The device definition's own order, 2, stays above the server tree's 1;
    // the serial number is added so that devices follow each other by serial.
    return id.isServer() ? 0 : int64_t(NodeDefs::LQ3::Dev::siblingOrder) + int64_t(id.serial());
}

DispatcherTreeLock::DispatcherTreeLock(TreeRegistry& registry) : registry_(registry) {
    if (tTreeLocksHeld > 0) QV_THROW(QVException("Tree already locked by this thread."));
    structureLock_ = std::unique_lock<SharedTimedMutex::Native>(registry.treeStructureMutex().native());
    subscriptionLock_ = std::unique_lock<SharedTimedMutex::Native>(registry.treeSubscriptionMutex().native());
    ++tTreeLocksHeld;
    tLockedRegistry = &registry;
}

void DispatcherTreeLock::hold(std::shared_ptr<DispatcherTree> tree) {
    if (!tree) QV_THROW(QVException("Invalid tree (NULL pointer)."));
    if (&tree->registry != &registry_) QV_THROW(QVException("Tree of another registry."));
    treeLock_ = std::unique_lock<Mutex::Native>(tree->mutex.native());
    node_ = tree->root;
    tree_ = std::move(tree);
}

DispatcherTreeLock::~DispatcherTreeLock() {
    if (treeLock_.owns_lock()) treeLock_.unlock();
    treeLock_ = std::unique_lock<Mutex::Native>();
    --tTreeLocksHeld;
    if (tTreeLocksHeld == 0) tLockedRegistry = nullptr;
    tree_.reset();
    node_.reset();
    subscriptionLock_.unlock();
    structureLock_.unlock();
    if (tTreeLocksHeld == 0) DispatcherDeliverDeferredNotices();
}

DispatcherTreeCreator::DispatcherTreeCreator(TreeRegistry& registry, TreeId id, std::shared_ptr<QVFifo> outputFifo,
                                             std::shared_ptr<QVFifo> requestFifo, bool listed)
    : DispatcherTreeLock(registry) {
    TreeNode::Ptr root = NewNode<NodeDefs::LQ3::Dev>();
    if (listed) attachToRoot(registry.root(), root, id);
    else placeUnlisted(root, id);

    auto tree = std::make_shared<DispatcherTree>(registry, id, root, std::move(outputFifo), std::move(requestFifo));
    hold(tree);

    DispatcherTreeLockAssertHeld(registry.treeSubscriptionMutex());
    DispatcherTreeMap& map = registry.dispatcherTreeMap();
    auto it = map.find(id);
    if (it != map.end()) {
        // An instrument that restarts may build its new tree before the old one
        // is gone; the newer tree is the one the dispatcher serves.
        QVLOG(logging::warning) << "Tree " << id.toString() << " created again; the new tree replaces the old one.";
        it->second = std::move(tree);
    } else {
        map.emplace(id, std::move(tree));
    }
}

namespace {

// Opens the lock on the registry alone, to put a tree's root below the root node.
class DispatcherTreeListLock : public DispatcherTreeLock {
public:
    explicit DispatcherTreeListLock(TreeRegistry& registry) : DispatcherTreeLock(registry) {}
};

}  // namespace

void DispatcherTreeList(TreeRegistry& registry, const TreeNode::Ptr& treeRoot) {
    if (!treeRoot) return;
    DispatcherTreeListLock lock(registry);
    DispatcherTreeLockAssertHeld(registry.treeSubscriptionMutex());
    if (treeRoot->getParent()) return;
    for (const auto& entry : registry.dispatcherTreeMap()) {
        if (entry.second->root != treeRoot) continue;
        attachToRoot(registry.root(), treeRoot, entry.first);
        return;
    }
}

namespace {

TreeRegistry& registryOf(const std::shared_ptr<DispatcherTree>& tree) {
    if (!tree) QV_THROW(QVException("Invalid tree (NULL pointer)."));
    return tree->registry;
}

}  // namespace

DispatcherTreeLocker::DispatcherTreeLocker(std::shared_ptr<DispatcherTree> tree)
    : DispatcherTreeLock(registryOf(tree)) {
    hold(std::move(tree));
}

DispatcherTreeRemover::DispatcherTreeRemover(std::shared_ptr<DispatcherTree> tree)
    : DispatcherTreeLock(registryOf(tree)) {
    hold(std::move(tree));
    const std::shared_ptr<DispatcherTree>& t = getTree();
    DispatcherTreeLockAssertHeld(t->registry.treeSubscriptionMutex());
    DispatcherTreeLockAssertHeld(t->subscriptionMutex);

    DispatcherTreeMap& map = t->registry.dispatcherTreeMap();
    auto it = map.find(t->id);
    // A newer tree with the same id (see the creator) stays registered.
    if (it != map.end() && it->second == t) map.erase(it);
    // The dispatcher no longer reads the tree (nor is it reading now: it
    // holds the subscription mutex for its whole pass): the answers still
    // queued are answered as failed, so every value announced to a client is
    // followed by a value or an error.
    if (t->outputFifo) DispatcherFailUndeliveredAnswers(t->registry, *t->outputFifo);

    for (auto& entry : t->endpoints) {
        DispatcherTreeLockAssertHeld(entry.second->subscriptionMutex);
        entry.second->subscribers.clear();
    }
    t->bufferedEndpoints.clear();
    t->endpoints.clear();

    if (t->root) {
        t->root->removeAllChildren();
        detachFromRoot(t->registry.root(), t->root);
    }
}

}  // namespace tarnix
