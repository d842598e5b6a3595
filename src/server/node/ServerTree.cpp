// Building the server's own tree "QV".
#include "server/node/ServerNodeImpl.h"

#include "core/DataTypes.h"
#include "core/QVException.h"
#include "core/tree/DispatcherTreeLock.h"
#include "core/tree/NodeDef.h"
#include "core/tree/NodeProperty.h"
#include "core/tree/TreeEndpoints.h"
#include "server/server/ServerContext.h"

#include <vector>

namespace tarnix {
namespace impl {
namespace {

typedef std::initializer_list<std::pair<const char*, NodeProperty>> Help;

TreeNode::Ptr addNode(const TreeNode::Ptr& parent, const char* name, int32_t order, int32_t typeId, Help help) {
    auto node = std::make_shared<TreeNode>();
    applyNodeIdentity(*node, name, NodeNameKind::Plain, order, typeId);
    applyNodeHelp(*node, help);
    return TreeNode::addChild(parent, node);
}

void addEndpoint(const std::shared_ptr<DispatcherTree>& tree, const TreeNode::Ptr& node, int32_t& id) {
    QV_STATUS status = DispatcherTreeAddEndpoint(tree, node, 0, &id);
    if (status != QV_NO_ERROR) QV_THROW(QVException(status));
}

const std::vector<NodeValueListEntry>& openValues() {
    static const std::vector<NodeValueListEntry> table{
        {"server only listens to localhost", 0},
        {"server is open for connections from outside", 1},
    };
    return table;
}

}  // namespace

void ServerNodeImpl::createTree() {
    // Other threads see the whole tree at once or not at all.
    DispatcherTreeCreator creator(context_.treeRegistry(), TreeId::server(), outputFifo_, requestFifo_);
    const std::shared_ptr<DispatcherTree>& tree = creator.getTree();
    tree->requestGate = requestGate_;
    const TreeNode::Ptr& qv = creator.getNode();

    // The creator made a device root; QV is a node of its own kind.
    qv->properties().clear();
    applyNodeIdentity(*qv, "QV", NodeNameKind::Plain, 1, 2);
    applyNodeHelp(*qv, {{"short", "This node represents the instance of the qvServer your are connected to."}});
    context_.treeRegistry().root()->sortChildren();

    TreeNode::Ptr about =
        addNode(qv, "ABOUT", 1, 3, {{"short", "Node containing information about the server you are connected to."}});
    TreeNode::Ptr config =
        addNode(qv, "CONFIG", 2, 8, {{"short", "Configuration data of the current instance of the server."}});
    TreeNode::Ptr trees = addNode(
        qv, "TREES", 3, 11,
        {{"short", "Messages on tree changes."},
         {"detailed",
          "This node sends out a message every time a device is connected or disconnected or its tree has changed."},
         {"stream", "treechange"}});
    addEndpoint(tree, trees, ids_.trees);
    TreeNode::Ptr debug =
        addNode(qv, "DEBUG", 4, 12,
                {{"nolist", true}, {"short", "Nodes to control debugging and receive debug-information."}});

    addEndpoint(tree,
                addNode(about, "VERSION", 1, 4, {{"short", "The version of this program."}, {"read", "bytearray"}}),
                ids_.version);
    addEndpoint(tree,
                addNode(about, "REVISION", 2, 5, {{"short", "The revision of this program."}, {"read", "integer"}}),
                ids_.revision);
    addEndpoint(
        tree,
        addNode(about, "FWREVISION", 3, 6, {{"short", "The revision of the used firmware."}, {"read", "integer"}}),
        ids_.fwRevision);
    addEndpoint(tree,
                addNode(about, "COPYRIGHT", 4, 7,
                        {{"short", "The copyright string of this program."}, {"read", "bytearray"}}),
                ids_.copyright);

    addEndpoint(tree,
                addNode(config, "PORT", 1, 9,
                        {{"short", "Configures the TCP/IP port on which the qvServer listens."},
                         {"read", "integer"},
                         {"write", "integer"},
                         {"from", int64_t(1024)},
                         {"to", int64_t(65535)},
                         {"default", int64_t(8005)}}),
                ids_.port);
    addEndpoint(tree,
                addNode(config, "OPEN", 2, 10,
                        {{"short",
                          "Configures whether the qvServer should be open for connections from outside the local "
                          "host."},
                         {"read", "integer"},
                         {"write", "integer"},
                         {"unit", "Boolean"},
                         {"default", int64_t(0)},
                         {"values", NodeValueList(openValues())}}),
                ids_.open);

    // The debug nodes: their ids and the OUT stream buffer stay with this
    // component.
    addEndpoint(tree,
                addNode(debug, "LEVEL", 1, 13,
                        {{"short", "Sets the level of debugging."},
                         {"nolist", true},
                         {"read", "integer"},
                         {"write", "integer"},
                         {"from", int64_t(0)},
                         {"to", int64_t(3)},
                         {"default", int64_t(0)}}),
                ids_.level);
    addEndpoint(tree,
                addNode(debug, "OUT", 2, 14,
                        {{"short",
                          "Outputs debugging messages according to the level which has been set in the LEVEL node."},
                         {"nolist", true},
                         {"stream", "bytearray"}}),
                ids_.out);
    debugOutBuffer_ = DispatcherTreeBufferEndpoint(tree, ids_.out, DATATYPE_BYTEARRAY);

    addEndpoint(tree,
                addNode(qv, "CLOCKBASE", 5, 15,
                        {{"short", "Provides timebase value for the server nodes"}, {"read", "integer"}}),
                ids_.clockBase);

    // Reads of this tree need nothing of the server-node thread: sessions
    // answer them at once, unless that would pass answers or pushes queued
    // before them.
    reads_->ids = ids_;
    std::shared_ptr<const ServerTreeReads> reads = reads_;
    tree->directRead = [reads](uint16_t sequenceTag, uint16_t sessionTag, int32_t id,
                               const DispatcherTree::DirectReadAnswer& answer) {
        return reads->replyAtOnce(sequenceTag, sessionTag, id, answer);
    };
    tree_ = tree;
}

}  // namespace impl
}  // namespace tarnix
