#pragma once
#include "core/QVStatus.h"
#include "core/tree/DispatcherTree.h"
#include "core/tree/NodeSet.h"
#include "core/tree/SessionClient.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <type_traits>
#include <memory>
#include <vector>

// Client requests travel as ValueRecords into the request FIFO of each matched
// endpoint's tree.
//
// Two ways of posting:
// - With a NodeSet, while the caller holds the structure mutex shared (so the
//   nodes and their trees stay alive): one try per endpoint; a record that
//   does not fit is lost for that endpoint (reported on standard output).
// - With PostTargets taken from the set under that lock, after the lock is
//   released: a request that does not get into the tree's queue at once
//   waits at the tree's gate for its turn, and a session whose share of the
//   gate is used up waits for its own earlier requests to be taken (see
//   RequestGate), so nothing is lost.
namespace tarnix {

// Where one record goes: an endpoint's tree and the endpoint's id.
struct PostTarget {
    std::shared_ptr<DispatcherTree> tree;
    int32_t endpointId = -1;
    std::shared_ptr<Endpoint> endpoint;
};
typedef std::vector<PostTarget> PostTargets;

// The targets of every node of the set that has an endpoint, in set order.
// Caller holds the structure mutex shared.
PostTargets DispatcherPostTargets(const NodeSet& set);

// What a post that found no room does between its waits. Built from the
// service step alone (any callable returning bool) the post waits in short
// steps; a poster that can sleep until woken also gives `sleep` and `wake`.
struct PostWaitStep {
    PostWaitStep() = default;
    // No step: a post that finds no room gives up.
    PostWaitStep(std::nullptr_t) {}
    template <class Step, class = std::enable_if_t<!std::is_same<std::decay_t<Step>, PostWaitStep>::value &&
                                                   std::is_invocable_r<bool, Step&>::value>>
    PostWaitStep(Step step) : service(std::move(step)) {}

    explicit operator bool() const { return bool(service); }
    bool operator()() const { return service(); }
    bool sleeps() const { return sleep && wake; }

    // Called between the waits; returns false to give up (the session is
    // stopping). Runs on the posting session's thread, so it can send the
    // session's pending output meanwhile.
    std::function<bool()> service;
    // Sleeps until `wake` is called (from any thread), at most the time given.
    std::function<void(std::chrono::milliseconds)> sleep;
    std::function<void()> wake;
};

// Takes a reply record that a tree answered at once (DispatcherTree::
// directRead), on the posting thread, for the session's own protocol; it is
// called under the tree's lock and must not wait.
typedef std::function<void(const PostTarget& target, const uint8_t* record, uint32_t length)> DirectAnswer;

// Posts the record to every target, filling in each endpoint's id, waiting
// for room as long as `waitStep` allows. Returns how many records could not
// be posted (their tree has ended, or the session gave up).
// A read of a tree that answers at once goes to `direct` instead of the
// tree's owner (when given, and when the session has no answer of that tree
// still due).
uint32_t DispatcherPostGetRequest(uint16_t sequence, const SessionClient& client, const PostTargets& targets,
                                  const PostWaitStep& waitStep, const DirectAnswer& direct = DirectAnswer());
uint32_t DispatcherPostSetDouble(uint16_t sequence, const SessionClient& client, const PostTargets& targets,
                                 double value, const PostWaitStep& waitStep);
// The integer travels whole: the node that takes it decides whether it fits.
uint32_t DispatcherPostSetInteger(uint16_t sequence, const SessionClient& client, const PostTargets& targets,
                                  int64_t value, const PostWaitStep& waitStep);
uint32_t DispatcherPostSetBytes(uint16_t sequence, const SessionClient& client, const PostTargets& targets,
                                uint32_t count, const uint8_t* bytes, const PostWaitStep& waitStep);
uint32_t DispatcherPostToTargets(uint8_t* record, uint32_t length, const PostTargets& targets,
                                 const PostWaitStep& waitStep, const SessionClient* client = nullptr,
                                 const DirectAnswer& direct = DirectAnswer());

// Places one block at the tree's gate (into its queue or in line for it),
// waiting while the record's session has its share of requests at the gate,
// as long as `waitStep` returns true. 0; QV_VALUE_NOT_FOUND when the tree's
// owner has ended; QV_OVERFLOW when the wait was given up or the record is
// larger than the whole queue.
QV_STATUS TreePost(DispatcherTree& tree, const uint8_t* data, uint32_t length, const PostWaitStep& waitStep);

QV_STATUS DispatcherPostGetRequest(uint16_t sequence, const SessionClient& client, const NodeSet& set);
QV_STATUS DispatcherPostSetDouble(uint16_t sequence, const SessionClient& client, const NodeSet& set,
                                  double value);
QV_STATUS DispatcherPostSetInteger(uint16_t sequence, const SessionClient& client, const NodeSet& set,
                                   int64_t value);
QV_STATUS DispatcherPostSetBytes(uint16_t sequence, const SessionClient& client, const NodeSet& set,
                                 uint32_t count, const uint8_t* bytes);

// Posts the record to every node of the set that has an endpoint, filling in
// each endpoint's id. Always returns 0.
QV_STATUS DispatcherPostToEndpoints(uint8_t* record, uint32_t length, const NodeSet& set);
void DispatcherPostToEndpoint(uint8_t* record, uint32_t length, const TreeNode::Ptr& node);

// Writes one block into the tree's request FIFO (through its gate, or under
// the tree's mutex when it has none), in one try. 0, or QV_OVERFLOW (0x4002)
// when the FIFO has no room, the record's session has its share of requests
// at the gate, or the owner has ended.
QV_STATUS TreeWrite(DispatcherTree& tree, const uint8_t* data, uint32_t length);

}  // namespace tarnix
