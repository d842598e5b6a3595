#pragma once
#include "core/QVStatus.h"
#include "core/tree/DispatcherTree.h"
#include "core/tree/NodeSet.h"
#include "core/tree/SessionClient.h"

#include <cstdint>

// Client requests travel as ValueRecords into the request FIFO of each matched
// endpoint's tree. The caller holds the structure mutex shared, so the nodes and
// their trees stay alive during the call. A record that does not fit is lost for
// that endpoint (reported on standard output); the others still get theirs.
namespace tarnix {

QV_STATUS DispatcherPostGetRequest(uint16_t sequence, const SessionClient& client, const NodeSet& set);
QV_STATUS DispatcherPostSetDouble(uint16_t sequence, const SessionClient& client, const NodeSet& set,
                                  double value);
// The value is carried sign-extended to 64 bits.
QV_STATUS DispatcherPostSetInteger(uint16_t sequence, const SessionClient& client, const NodeSet& set,
                                   int32_t value);
QV_STATUS DispatcherPostSetBytes(uint16_t sequence, const SessionClient& client, const NodeSet& set,
                                 uint32_t count, const uint8_t* bytes);

// Posts the record to every node of the set that has an endpoint, filling in
// each endpoint's id. Always returns 0.
QV_STATUS DispatcherPostToEndpoints(uint8_t* record, uint32_t length, const NodeSet& set);
void DispatcherPostToEndpoint(uint8_t* record, uint32_t length, const TreeNode::Ptr& node);

// Writes one block into the tree's request FIFO under the tree's mutex.
// 0, or QV_OVERFLOW (0x4002) when the FIFO has no room.
QV_STATUS TreeWrite(DispatcherTree& tree, const uint8_t* data, uint32_t length);

}  // namespace tarnix
