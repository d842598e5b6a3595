#pragma once
#include "core/tree/NodeProperty.h"

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace tarnix {

struct Endpoint;

// One node of a node tree (below a TreeRegistry's root). A node has no lock
// of its own: its structure (children, names, indexes, endpoint) changes only
// while the registry's structure mutex is held exclusively or while the node
// is still private to the thread that builds it; readers hold the same mutex
// shared.
class TreeNode {
public:
    typedef std::shared_ptr<TreeNode> Ptr;
    typedef std::map<std::string, NodeProperty> PropertyMap;

    TreeNode();
    virtual ~TreeNode() = default;
    TreeNode(const TreeNode&) = delete;
    TreeNode& operator=(const TreeNode&) = delete;

    virtual int32_t type() const { return nodeTypeId_; }

    // Sets the child's parent, gives it the index equal to the number of children
    // the parent had before, appends it and returns it. Checks nothing else.
    static Ptr addChild(const Ptr& parent, Ptr child);

    void setName(const std::string& name);
    void setIndexedName(const std::string& name);
    void setIndex(int32_t index);
    void updateDisplayName();

    // Throws QVOutOfRangeException when i is not below the number of children.
    Ptr childAt(size_t i) const;
    Ptr getParent() const { return parent_.lock(); }
    // The display name: what clients see and what path segments are matched against.
    std::string getName() const { return displayName_; }
    const std::string& displayName() const { return displayName_; }
    // The base name set by the node definition (empty for instance nodes).
    const std::string& baseName() const { return name_; }
    bool isIndexed() const { return indexed_; }
    int32_t getIndex() const { return index_; }

    // Throws QVNotFoundException (children unchanged) when child is not listed.
    void removeChild(const Ptr& child);
    void removeAllChildren();
    // Stable sort by sibling order, ascending.
    void sortChildren();

    const std::vector<Ptr>& children() const { return children_; }
    size_t childCount() const { return children_.size(); }

    // Sibling orders are 64-bit so that a device tree keyed by any 32-bit serial
    // number keeps its place after the server's own tree.
    int64_t siblingOrder() const { return siblingOrder_; }
    void setSiblingOrder(int64_t order) { siblingOrder_ = order; }
    int32_t nodeTypeId() const { return nodeTypeId_; }
    void setNodeTypeId(int32_t id) { nodeTypeId_ = id; }

    const std::shared_ptr<Endpoint>& endpoint() const { return endpoint_; }
    void setEndpoint(std::shared_ptr<Endpoint> endpoint) { endpoint_ = std::move(endpoint); }

    // Help properties; node definitions write them through operator[].
    PropertyMap& properties() { return properties_; }
    const PropertyMap& properties() const { return properties_; }

    // Typed lookup: false (out untouched) when absent; true with a copy when it
    // holds a T; boost::bad_get when it holds another kind.
    template <class T>
    bool getProperty(const std::string& key, T& out) const {
        auto it = properties_.find(key);
        if (it == properties_.end()) return false;
        out = it->second.get<T>();
        return true;
    }

    // Creation order of nodes, process-wide; gives node sets a stable identity order.
    uint64_t creationStamp() const { return creationStamp_; }

private:
    std::shared_ptr<Endpoint> endpoint_;
    std::string displayName_;
    std::string name_;
    bool indexed_ = false;
    std::vector<Ptr> children_;
    std::weak_ptr<TreeNode> parent_;
    int32_t index_ = -1;
    int64_t siblingOrder_ = -1;
    int32_t nodeTypeId_ = -1;
    PropertyMap properties_;
    uint64_t creationStamp_;
};

// A new root node for a set of trees (each TreeRegistry has one).
TreeNode::Ptr createRootNode();

}  // namespace tarnix
