#pragma once
#include "server/dispatcher/StreamFeed.h"
#include "server/session/IFaceData.h"

#include <array>
#include <cstdint>
#include <memory>
#include <unordered_map>
#include <vector>

namespace tarnix {

struct Endpoint;
struct SessionClient;

// The dispatcher's feeds of one streamed endpoint: one StreamFeed per
// protocol among its subscribers, and each subscriber's reader.
class EndpointFeeds {
public:
    struct Subscriber {
        SessionClient* client;
        uint32_t type;  // the session's InterfaceType
    };

    explicit EndpointFeeds(std::weak_ptr<Endpoint> endpoint) : endpoint_(std::move(endpoint)) {}
    // Ends every reader, so that the sessions drop them.
    ~EndpointFeeds();
    EndpointFeeds(const EndpointFeeds&) = delete;
    EndpointFeeds& operator=(const EndpointFeeds&) = delete;

    // Gives every subscriber a reader on its protocol's feed (a new one
    // starts with the next entry) and ends the readers of sessions that are
    // no longer subscribed. Feeds without readers are dropped.
    void match(const std::vector<Subscriber>& subscribers);
    // The protocol's feed, when a subscriber speaks it.
    StreamFeed* feed(uint32_t type) const { return type < feeds_.size() ? feeds_[type].get() : nullptr; }
    // Appends what the feeds parked; true when nothing is left parked.
    bool appendParked();
    bool parked() const;
    // Adds the feeds with parked entries to `out`.
    void collectParked(std::vector<std::shared_ptr<StreamFeed>>& out) const;
    bool belongsTo(const Endpoint& endpoint) const { return endpoint_.lock().get() == &endpoint; }
    bool expired() const { return endpoint_.expired(); }

private:
    struct Reader {
        uint64_t session;  // SessionClient::serial
        uint32_t type;
        std::shared_ptr<StreamFeedReader> reader;
    };

    std::weak_ptr<Endpoint> endpoint_;
    std::array<std::shared_ptr<StreamFeed>, kInterfaceTypeCount> feeds_;
    std::vector<Reader> readers_;
};

// Every streamed endpoint's feeds, kept by the dispatcher thread.
class StreamFeeds {
public:
    // Bytes of one feed: about a quarter of a second of a demodulator at its
    // highest rate, so that a client that is briefly slow loses nothing.
    // Samples as text take about four times their binary size.
    static constexpr uint32_t kBinaryFeedCapacity = 8u << 20;
    static constexpr uint32_t kTextFeedCapacity = 32u << 20;
    static uint32_t feedCapacity(uint32_t type) {
        return type == INTERFACE_TEXT ? kTextFeedCapacity : kBinaryFeedCapacity;
    }

    EndpointFeeds& of(const std::shared_ptr<Endpoint>& endpoint);
    // Drops the feeds of endpoints that are gone.
    void prune();
    std::size_t size() const { return feeds_.size(); }

private:
    std::unordered_map<const Endpoint*, std::unique_ptr<EndpointFeeds>> feeds_;
};

}  // namespace tarnix
