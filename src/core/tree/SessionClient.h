#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>

namespace tarnix {

class SessionActionsInterface;

// Protocol of a session; the dispatcher converts data for a session by it.
enum InterfaceType : uint32_t {
    INTERFACE_NONE = 0,
    INTERFACE_TEXT = 1,
    INTERFACE_BINARY = 2,
};

// Data classes of a write into a session. Classes up to 3 wait for room in the
// session's write FIFO; 4 and 5 are dropped when the FIFO is short of room.
enum SessionWriteClass : int32_t {
    WRITE_CLASS_REPLY = 1,      // reply to the requesting session
    WRITE_CLASS_TEXT = 2,       // text output, greeting, binary hello
    WRITE_CLASS_PUSH = 3,       // value change pushed to other sessions
    WRITE_CLASS_DROPPABLE = 4,  // scope records and pushes flagged 2
    WRITE_CLASS_STREAM = 5,     // stream sample blocks
};

typedef std::function<int32_t(const uint8_t* data, uint32_t length, SessionActionsInterface* context,
                              int32_t dataClass)>
    SessionWriteFunction;

// The record by which the dispatcher and the subscriber lists know a session.
// It is embedded in the session and linked into its registry's
// SessionClientList (TreeRegistry::sessionClients); subscriber lists refer to it without owning it, so the
// session calls DispatcherRemoveClient before the record goes away.
struct SessionClient {
    SessionClient() = default;
    SessionClient(const SessionClient&) = delete;
    SessionClient& operator=(const SessionClient&) = delete;

    // Low 16 bits of the session's socket handle; names the session in records.
    uint16_t sessionId = 0;
    // Unique for the life of the process (session ids are reused): tells a
    // session from a later one that got the same id or the same address.
    const uint64_t serial = nextSerial();
    // InterfaceType; written by the session thread, read by the dispatcher.
    std::atomic<uint32_t> interfaceType{INTERFACE_TEXT};
    // Links of the registry's list; maintained by SessionClientList only.
    SessionClient* previous = nullptr;
    SessionClient* next = nullptr;
    SessionWriteFunction writeFunction;
    SessionActionsInterface* context = nullptr;
    // Requests of this session to a tree that answers reads at once (see
    // DispatcherTree::directRead) whose answers the dispatcher has not
    // delivered yet. While there are any, reads of such a tree wait their
    // turn through the tree's owner too, so that answers keep their order.
    mutable std::atomic<uint32_t> directTreeAnswersDue{0};
    // Requests of this session handed to a tree's owner so far: when it grew
    // over a request, the answer comes from another thread.
    mutable std::atomic<uint64_t> treePosts{0};

    static uint64_t nextSerial();

    // Calls the write function; -1 when there is none.
    int32_t write(const uint8_t* data, uint32_t length, int32_t dataClass) const {
        return writeFunction ? writeFunction(data, length, context, dataClass) : -1;
    }
};

// Doubly linked list of session records in creation order. Every operation
// expects the caller to hold the registry's sessionListMutex() (exclusively
// for changes).
class SessionClientList {
public:
    SessionClientList() = default;
    SessionClientList(const SessionClientList&) = delete;
    SessionClientList& operator=(const SessionClientList&) = delete;

    // Appends at the tail; a record that is already linked is left where it is.
    void append(SessionClient& client);
    // Unlinks the record; false when it was not linked.
    bool unlink(SessionClient& client);
    bool contains(const SessionClient& client) const;
    // The first record with this session id, or nullptr.
    SessionClient* find(uint16_t sessionId) const;
    // Unlinks every record.
    void clear();

    SessionClient* head() const { return head_; }
    SessionClient* tail() const { return tail_; }
    size_t size() const { return size_; }

private:
    SessionClient* head_ = nullptr;
    SessionClient* tail_ = nullptr;
    size_t size_ = 0;
};

}  // namespace tarnix
