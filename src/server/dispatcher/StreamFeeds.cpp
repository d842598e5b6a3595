#include "server/dispatcher/StreamFeeds.h"

#include "core/tree/Endpoint.h"
#include "core/tree/SessionClient.h"

#include <algorithm>

namespace tarnix {

EndpointFeeds::~EndpointFeeds() {
    for (const std::shared_ptr<StreamFeed>& feed : feeds_)
        if (feed) feed->detachAll();
}

void EndpointFeeds::match(const std::vector<Subscriber>& subscribers) {
    // Readers of sessions gone, unsubscribed or switched to another protocol.
    for (auto it = readers_.begin(); it != readers_.end();) {
        const bool current = std::any_of(subscribers.begin(), subscribers.end(), [&](const Subscriber& s) {
            return s.client->serial == it->session && s.type == it->type;
        });
        if (current) {
            ++it;
            continue;
        }
        feeds_[it->type]->detach(it->reader);
        it = readers_.erase(it);
    }
    for (const Subscriber& s : subscribers) {
        const bool known = std::any_of(readers_.begin(), readers_.end(), [&](const Reader& r) {
            return r.session == s.client->serial && r.type == s.type;
        });
        if (known || s.type >= feeds_.size() || !s.client->context) continue;
        std::shared_ptr<StreamFeed>& feed = feeds_[s.type];
        if (!feed) feed = std::make_shared<StreamFeed>(StreamFeeds::feedCapacity(s.type));
        std::shared_ptr<StreamFeedReader> reader = feed->attach(s.type);
        readers_.push_back(Reader{s.client->serial, s.type, reader});
        s.client->context->attachStream(std::move(reader));
    }
    for (std::shared_ptr<StreamFeed>& feed : feeds_)
        if (feed && feed->readerCount() == 0) feed.reset();
}

bool EndpointFeeds::appendParked() {
    bool done = true;
    for (const std::shared_ptr<StreamFeed>& feed : feeds_)
        if (feed && !feed->appendParked()) done = false;
    return done;
}

bool EndpointFeeds::parked() const {
    return std::any_of(feeds_.begin(), feeds_.end(),
                       [](const std::shared_ptr<StreamFeed>& feed) { return feed && feed->parked(); });
}

void EndpointFeeds::collectParked(std::vector<std::shared_ptr<StreamFeed>>& out) const {
    for (const std::shared_ptr<StreamFeed>& feed : feeds_)
        if (feed && feed->parked()) out.push_back(feed);
}

EndpointFeeds& StreamFeeds::of(const std::shared_ptr<Endpoint>& endpoint) {
    std::unique_ptr<EndpointFeeds>& feeds = feeds_[endpoint.get()];
    // An endpoint at the address of one that is gone starts afresh.
    if (!feeds || !feeds->belongsTo(*endpoint)) feeds.reset(new EndpointFeeds(endpoint));
    return *feeds;
}

void StreamFeeds::prune() {
    for (auto it = feeds_.begin(); it != feeds_.end();) {
        if (it->second->expired())
            it = feeds_.erase(it);
        else
            ++it;
    }
}

}  // namespace tarnix
