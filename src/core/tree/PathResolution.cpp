#include "core/tree/PathResolution.h"

#include "core/tree/TreeRegistry.h"

#include <cctype>
#include <vector>

namespace tarnix {

namespace {

bool isBlankText(const std::string& text) {
    for (unsigned char c : text)
        if (!std::isspace(c)) return false;
    return true;
}

char foldCase(char c) { return (c >= 'a' && c <= 'z') ? char(c - 'a' + 'A') : c; }

// Calls `resolve` with every blank-separated piece of the text.
template <class Resolve>
void forEachPiece(std::string_view text, Resolve resolve) {
    size_t start = 0;
    while (start < text.size()) {
        size_t blank = text.find(' ', start);
        const size_t end = blank == std::string_view::npos ? text.size() : blank;
        if (end > start) resolve(text.substr(start, end - start));
        if (blank == std::string_view::npos) break;
        start = blank + 1;
    }
}

// '*' matches any run of characters, zero included. Iterative with a single
// backtrack point, so hostile patterns cost at most name x pattern steps.
bool globMatch(std::string_view name, std::string_view pattern) {
    size_t n = 0, p = 0;
    size_t starPattern = std::string_view::npos, starName = 0;
    while (n < name.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            starPattern = p++;
            starName = n;
        } else if (p < pattern.size() && foldCase(pattern[p]) == foldCase(name[n])) {
            ++p;
            ++n;
        } else if (starPattern != std::string_view::npos) {
            p = starPattern + 1;
            n = ++starName;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') ++p;
    return p == pattern.size();
}

}  // namespace

bool wildcardMatch(std::string_view name, std::string_view pattern) {
    // A '*' that ends the pattern needs at least one character: the pattern
    // must then match the name without its last character, which that '*' takes.
    if (!pattern.empty() && pattern.back() == '*') {
        if (name.empty()) return false;
        name.remove_suffix(1);
    }
    return globMatch(name, pattern);
}

bool parseIndex(std::string_view segment, int32_t& value) {
    // Indexes are 32-bit words: a device whose serial number is 2^31 or above
    // has a negative index, so 0 to 2^32-1 and down to -2^31 are taken, and
    // the word they name is compared. A number beyond that names no node.
    constexpr uint64_t kLargest = 0xFFFFFFFFull;
    uint64_t number = 0;
    bool negative = false;
    for (char c : segment) {
        if (c >= '0' && c <= '9') {
            number = number * 10u + uint64_t(c - '0');
            if (number > kLargest) return false;
        } else if (c == '-') {
            if (negative) return false;
            negative = true;
        } else if (c == ' ') {
            if (negative) return false;
        } else {
            return false;
        }
    }
    if (negative && number > 0x80000000ull) return false;
    const uint32_t word = negative ? 0u - uint32_t(number) : uint32_t(number);
    value = static_cast<int32_t>(word);
    return true;
}

void NodeSetFromRoot(const TreeRegistry& registry, NodeSet& result) { result.insert(registry.root()); }

void NodeSetUnion(const NodeSet& source, NodeSet& target) { target.insert(source.begin(), source.end()); }

void NodeSetParents(const NodeSet& source, NodeSet& result) {
    for (const TreeNode::Ptr& node : source)
        if (TreeNode::Ptr parent = node->getParent()) result.insert(std::move(parent));
}

void NodeSetTopmost(const NodeSet& source, NodeSet& result) {
    for (const TreeNode::Ptr& node : source) {
        TreeNode::Ptr top = node;
        while (TreeNode::Ptr parent = top->getParent()) top = std::move(parent);
        result.insert(std::move(top));
    }
}

void NodeSetMatchSegment(const NodeSet& source, NodeSet& result, std::string_view segment) {
    int32_t index = 0;
    const bool numeric = parseIndex(segment, index);
    for (const TreeNode::Ptr& node : source) {
        for (const TreeNode::Ptr& child : node->children()) {
            const std::string& name = child->displayName();
            if ((!name.empty() && wildcardMatch(name, segment)) || (numeric && child->getIndex() == index))
                result.insert(child);
        }
    }
}

uint32_t NodeSetCountEndpoints(const NodeSet& set) {
    uint32_t count = 0;
    for (const TreeNode::Ptr& node : set)
        if (node->endpoint()) ++count;
    return count;
}

void DispatcherResolvePath(const NodeSet& from, NodeSet& result, std::string_view piece) {
    NodeSet current = from;
    size_t start = 0;
    bool first = true;
    while (start < piece.size() || first) {
        size_t slash = piece.find('/', start);
        const size_t end = slash == std::string_view::npos ? piece.size() : slash;
        const std::string_view segment = piece.substr(start, end - start);
        NodeSet next;
        if (segment.empty()) {
            if (first) NodeSetTopmost(current, next); else next.swap(current);
        } else if (segment == "..") {
            NodeSetParents(current, next);
        } else if (segment == ".") {
            next.swap(current);
        } else {
            NodeSetMatchSegment(current, next, segment);
        }
        current.swap(next);
        first = false;
        if (slash == std::string_view::npos) break;
        start = slash + 1;
    }
    NodeSetUnion(current, result);
}

void DispatcherResolvePaths(const NodeSet& from, NodeSet& result, std::string_view text) {
    forEachPiece(text, [&](std::string_view piece) { DispatcherResolvePath(from, result, piece); });
}

bool DispatcherResolvePathList(const TreeRegistry& registry, NodeSet& result, const std::string& basePath,
                               const std::string& path) {
    NodeSet root;
    NodeSetFromRoot(registry, root);
    NodeSet base;
    if (!isBlankText(basePath)) DispatcherResolvePaths(root, base, basePath);
    // A session whose working node went away (its instrument was pulled out)
    // is at the root again rather than nowhere.
    const bool baseFound = isBlankText(basePath) || !base.empty();
    if (base.empty()) base = root;

    if (isBlankText(path)) {
        NodeSetUnion(base, result);
    } else {
        // An absolute path names the same nodes from any base, also from one
        // that went away.
        forEachPiece(path, [&](std::string_view piece) {
            DispatcherResolvePath(piece.front() == '/' ? root : base, result, piece);
        });
    }
    return baseFound;
}

std::string NodePathFrom(const TreeNode::Ptr& node, const TreeNode::Ptr& ancestor) {
    std::vector<TreeNode::Ptr> chain;
    for (TreeNode::Ptr n = node; n && n != ancestor; n = n->getParent()) chain.push_back(n);
    std::string path;
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
        if (it != chain.rbegin()) path += '/';
        path += (*it)->displayName();
    }
    return path;
}

std::string DispatcherGetNodePath(TreeRegistry& registry, const TreeNode::Ptr& node) {
    SharedLock<SharedTimedMutex> lock(registry.treeStructureMutex());
    return "/" + NodePathFrom(node, registry.root());
}

std::string DispatcherGetNodeName(TreeRegistry& registry, const TreeNode::Ptr& node) {
    SharedLock<SharedTimedMutex> lock(registry.treeStructureMutex());
    return node->getName();
}

}  // namespace tarnix
