#pragma once
#include "core/component/QVBase.h"
#include "core/tree/TreeNode.h"

#include <cstdint>
#include <memory>

namespace tarnix {

namespace exception {
class ExceptionCarrier;
}
class ServerContext;
namespace impl {
class ServerNodeImpl;
}
class Listener;

// Serves the server's own tree "QV"; component name "ServerNode".
class ServerNode : public QVBase {
public:
    ServerNode(exception::ExceptionCarrier& carrier, ServerContext& context);

    // True (and the code cleared) when the pending control code equals code.
    bool takeControlCode(int32_t code);
    // Reports a device tree that went away (0), is new (1) or changed (2) to
    // the subscribers of TREES.
    void pushDeviceMessage(const TreeNode::Ptr& node, uint8_t code);

    impl::ServerNodeImpl& impl() const;
};

}  // namespace tarnix
