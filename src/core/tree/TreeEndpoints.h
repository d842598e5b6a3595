#pragma once
#include "core/QVStatus.h"
#include "core/tree/DispatcherTree.h"

#include <cstdint>
#include <memory>

namespace tarnix {

class BufferFifoBase;

// Stream buffers of endpoints: at most 524,288 blocks and 4 MiB of data.
constexpr uint32_t kEndpointBufferBlocks = 524288;
constexpr uint32_t kEndpointBufferBytes = 4194304;

// Every function here needs a DispatcherTreeLock held by the calling thread and
// throws QVException "Not locked." otherwise, leaving the tree unchanged.

// Gives the node an endpoint with the tree's next id (stored through id when
// given) and the path "/" + the node's path. Returns 0.
QV_STATUS DispatcherTreeAddEndpoint(const std::shared_ptr<DispatcherTree>& tree, const TreeNode::Ptr& node,
                                    uint16_t precision, int32_t* id);

// Gives the endpoint a stream buffer on the first call and sets its data type
// (the last call's type wins); returns the buffer. An id that does not name an
// endpoint of the tree throws QVException "EndpointId out of range.".
std::shared_ptr<BufferFifoBase> DispatcherTreeBufferEndpoint(const std::shared_ptr<DispatcherTree>& tree,
                                                             int32_t id, uint16_t dataType);

// Drops a buffered endpoint's stream buffer; an unbuffered one is left alone.
QV_STATUS DispatcherTreeUnbufferEndpoint(const std::shared_ptr<DispatcherTree>& tree,
                                         const std::shared_ptr<Endpoint>& endpoint);

// Removes the endpoints of the node and of all its descendants (subscribers,
// buffer, table entry; ids are not reused), then removes the node's children.
// The node itself stays, without an endpoint.
QV_STATUS DispatcherTreeRemoveNodeChildren(const std::shared_ptr<DispatcherTree>& tree, const TreeNode::Ptr& node);

}  // namespace tarnix
