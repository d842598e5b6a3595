#pragma once
#include "core/tree/NodeSet.h"
#include "core/tree/TreeRegistry.h"

#include <cstdint>
#include <string>
#include <string_view>

// Paths name nodes: segments separated by '/', several paths separated by
// blanks. A leading '/' starts at the topmost node, ".." is the parents, "." the
// same nodes. Letters a-z and A-Z compare equal; '*' is the only wildcard (it
// needs at least one character at the end of a segment); a decimal segment also
// matches a node's index (so "1234" finds DEV1234).
//
// The resolving functions take no lock: the caller holds the structure mutex
// shared from resolution to the last use of the nodes. Functions with a result
// argument add to it.
namespace tarnix {

// Resolves path relative to basePath (empty or blank: the registry's root); an
// empty or blank path gives the base set itself. A path that begins with '/'
// starts at the root whatever the base. A base path that selects no node any
// more (its nodes went away) counts as the root: false then, else true.
bool DispatcherResolvePathList(const TreeRegistry& registry, NodeSet& result, const std::string& basePath,
                               const std::string& path);
// Each blank-separated piece of text from the same from set; the union of all.
void DispatcherResolvePaths(const NodeSet& from, NodeSet& result, std::string_view text);
// One path; a segment that matches nothing makes the result empty.
void DispatcherResolvePath(const NodeSet& from, NodeSet& result, std::string_view piece);

void NodeSetFromRoot(const TreeRegistry& registry, NodeSet& result);
void NodeSetUnion(const NodeSet& source, NodeSet& target);
// The parent of every node that has one.
void NodeSetParents(const NodeSet& source, NodeSet& result);
// The topmost ancestor of every node (the root, for nodes in the tree).
void NodeSetTopmost(const NodeSet& source, NodeSet& result);
// The children of the source nodes whose display name matches the segment or
// whose index equals the segment read as a number.
void NodeSetMatchSegment(const NodeSet& source, NodeSet& result, std::string_view segment);
// Number of nodes in the set that have an endpoint.
uint32_t NodeSetCountEndpoints(const NodeSet& set);

bool wildcardMatch(std::string_view name, std::string_view pattern);
// Reads a decimal segment as a 32-bit index word: 0 to 2^32-1 (the numbers 2^31
// and above give the negative index of a device whose serial number is that
// large) or, with a '-' anywhere, down to -2^31; blanks before a '-' are
// skipped. False for anything else, a number out of that range included.
bool parseIndex(std::string_view segment, int32_t& value);

// Display names from just below the ancestor down to the node, joined by '/';
// empty when the node is the ancestor. Stops at a node without a parent.
std::string NodePathFrom(const TreeNode::Ptr& node, const TreeNode::Ptr& ancestor);
// "/" + the node's path below the registry's root, under a shared structure
// lock. Not for callers that already hold that lock (use NodePathFrom there).
std::string DispatcherGetNodePath(TreeRegistry& registry, const TreeNode::Ptr& node)
    QV_EXCLUDES(registry.treeStructureMutex());
// The node's display name, under a shared structure lock (same caveat).
std::string DispatcherGetNodeName(TreeRegistry& registry, const TreeNode::Ptr& node)
    QV_EXCLUDES(registry.treeStructureMutex());

}  // namespace tarnix
