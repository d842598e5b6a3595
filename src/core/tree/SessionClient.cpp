#include "core/tree/SessionClient.h"

#include <atomic>

namespace tarnix {

uint64_t SessionClient::nextSerial() {
    static std::atomic<uint64_t> counter{0};
    return ++counter;
}

bool SessionClientList::contains(const SessionClient& client) const {
    return client.previous != nullptr || head_ == &client;
}

void SessionClientList::append(SessionClient& client) {
    if (contains(client)) return;
    client.previous = tail_;
    client.next = nullptr;
    if (tail_ != nullptr)
        tail_->next = &client;
    else
        head_ = &client;
    tail_ = &client;
    ++size_;
}

bool SessionClientList::unlink(SessionClient& client) {
    if (!contains(client)) return false;
    if (client.previous != nullptr)
        client.previous->next = client.next;
    else
        head_ = client.next;
    if (client.next != nullptr)
        client.next->previous = client.previous;
    else
        tail_ = client.previous;
    client.previous = nullptr;
    client.next = nullptr;
    --size_;
    return true;
}

SessionClient* SessionClientList::find(uint16_t sessionId) const {
    for (SessionClient* c = head_; c != nullptr; c = c->next)
        if (c->sessionId == sessionId) return c;
    return nullptr;
}

void SessionClientList::clear() {
    while (head_ != nullptr) unlink(*head_);
}

}  // namespace tarnix
