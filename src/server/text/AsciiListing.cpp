#include "server/text/AsciiListing.h"

#include <boost/variant/get.hpp>

namespace tarnix {
namespace {

bool isHidden(const TreeNode& node) {
    bool hidden = false;
    try {
        node.getProperty("nolist", hidden);
    } catch (const boost::bad_get&) {
        hidden = false;  // a "nolist" of another kind does not hide
    }
    return hidden;
}

void listChildren(const TreeNode& node, unsigned depth, unsigned maxDepth, bool indent, AsciiListing& listing) {
    for (const TreeNode::Ptr& child : node.children()) {
        ++listing.counted;
        if (!isHidden(*child)) {
            if (indent) listing.text.append(2 * std::size_t(depth), ' ');
            listing.text.append(child->displayName()).append(1, '\n');
        }
        if (maxDepth == 0 || depth + 1 < maxDepth) listChildren(*child, depth + 1, maxDepth, indent, listing);
    }
}

}  // namespace

AsciiListing AsciiListNodes(const NodeSet& set, unsigned maxDepth, bool indent) {
    AsciiListing listing;
    for (const TreeNode::Ptr& node : set) listChildren(*node, 0, maxDepth, indent, listing);
    return listing;
}

}  // namespace tarnix
