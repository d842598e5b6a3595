#include <cstddef>
#include <cstring>

#include "RequestSupport.h"

// The event record's layout is part of the interface.
static_assert(offsetof(QvEvent, path) == 8, "QvEvent layout");
static_assert(offsetof(QvEvent, data) == 264, "QvEvent layout");
static_assert(offsetof(QvEvent, dataArea) == 272 && sizeof(QvEvent) == 4194576, "QvEvent layout");

using namespace tarnix;
using namespace tarnix::client;

namespace {

constexpr int32_t kUpdateDevicesTimeoutMs = 10000;
constexpr uint32_t kLibraryRevision = 12256;
// The double nearest to 1 / 210 MHz, the instrument's clock base.
constexpr double kSecondsPerTick = 4.761904761904762e-9;

QV_STATUS subscription(QvHandle* handle, const char* path, uint16_t request, uint16_t reply) {
    if (!handleValid(handle)) return QV_CONNECTION_INVALID;
    return guarded([&] {
        uint16_t id = 0;
        QV_STATUS st = startRequest(*handle, request, path, id);
        if (st != QV_NO_ERROR) return st;
        return awaitReply(*handle, id, reply, kReplyTimeoutMs);
    });
}

// Fills the caller's record from a taken value event; false (record left
// empty) for any other message and for an event whose path or data does not
// hold what it announces.
bool fillEvent(const QvHandle& handle, QvEvent& event) {
    wire::ValueEventView view;
    if (!wire::decodeValueEvent(handle.reply.data(), handle.replyLength, view)) return false;
    if (!wire::eventDataConsistent(view.dataType, view.count, view.data, view.dataLength)) return false;
    event.valueType = view.dataType;
    event.count = view.count;
    uint32_t pathLength = view.path.length < QV_EVENT_PATH_SIZE - 1 ? view.path.length : QV_EVENT_PATH_SIZE - 1;
    std::memcpy(event.path, view.path.text, pathLength);
    event.path[pathLength] = '\0';
    // A message is at most the receive window, so its data fits the area.
    if (view.dataLength != 0) std::memcpy(event.dataArea, view.data, view.dataLength);
    return true;
}

}  // namespace

extern "C" {

QV_STATUS qvAPIListNodes(QvHandle* handle, const char* path, char* text, uint32_t bufferSize, uint32_t flags) {
    if (!handleValid(handle)) return QV_CONNECTION_INVALID;
    if (text == nullptr) bufferSize = 0;
    return guarded([&] {
        uint16_t id = 0;
        QV_STATUS st = startRequest(
            *handle, wire::MSG_LIST_NODES, path, 4, [flags](uint8_t* at) { le::put32(at, flags); }, id);
        if (st != QV_NO_ERROR) return st;
        st = awaitReply(*handle, id, wire::MSG_LIST_NODES_REPLY, kReplyTimeoutMs);
        if (st != QV_NO_ERROR) return st;
        const uint32_t listing = handle->replyLength - wire::kHeaderSize;
        if (bufferSize == 0) return QV_STATUS(listing == 0 ? QV_NO_ERROR : QV_BUFFER_TOO_SMALL);
        text[0] = '\0';
        if (listing == 0) return QV_STATUS(QV_NO_ERROR);
        if (listing > bufferSize) return QV_STATUS(QV_BUFFER_TOO_SMALL);
        std::memcpy(text, handle->reply.data() + wire::kListTextAt, listing);
        text[listing - 1] = '\0';  // the last line's newline
        return QV_STATUS(QV_NO_ERROR);
    });
}

QV_STATUS qvAPIUpdateDevices(QvHandle* handle) {
    if (!handleValid(handle)) return QV_CONNECTION_INVALID;
    return guarded([&] {
        std::vector<uint8_t> message = newMessage(0);
        uint16_t id = 0;
        QV_STATUS st = ClientSendMessage(*handle, wire::MSG_UPDATE_DEVICES, message, &id);
        if (st != QV_NO_ERROR) return st;
        return awaitReply(*handle, id, wire::MSG_UPDATE_DEVICES_REPLY, kUpdateDevicesTimeoutMs);
    });
}

QV_STATUS qvAPISubscribe(QvHandle* handle, const char* path) {
    return subscription(handle, path, wire::MSG_SUBSCRIBE, wire::MSG_SUBSCRIBE_REPLY);
}

QV_STATUS qvAPIUnSubscribe(QvHandle* handle, const char* path) {
    return subscription(handle, path, wire::MSG_UNSUBSCRIBE, wire::MSG_UNSUBSCRIBE_REPLY);
}

QV_STATUS qvAPIPollData(QvHandle* handle, QvEvent* event, int32_t timeoutMs) {
    if (!handleValid(handle)) return QV_CONNECTION_INVALID;
    if (event == nullptr) return QV_BUFFER_TOO_SMALL;
    event->valueType = QV_VALUE_NONE;
    event->count = 0;
    event->path[0] = '\0';
    event->data = event->dataArea;
    return guarded([&] {
        // Events dropped while a request waited for its reply with the queue
        // full: said once, after the events queued before them.
        if (handle->ring.queued() == 0) {
            if (QV_STATUS lost = ClientTakeDropStatus(*handle)) return lost;
        }
        if (handle->ring.queued() == 0) {
            QV_STATUS st = ClientPumpMessages(*handle, timeoutMs, wire::kUnsolicitedId);
            if (st != QV_NO_ERROR && st != QV_COMMAND_TIMEOUT) return st;
        }
        if (handle->ring.queued() == 0) return QV_STATUS(QV_NO_ERROR);
        QV_STATUS st = ClientWaitMessage(*handle, wire::kUnsolicitedId, 0);
        if (st != QV_NO_ERROR) return st;
        fillEvent(*handle, *event);
        return QV_STATUS(QV_NO_ERROR);
    });
}

QV_STATUS qvAPIGetRevision(uint32_t* revision) {
    if (revision == nullptr) return QV_BUFFER_TOO_SMALL;
    *revision = kLibraryRevision;
    return QV_NO_ERROR;
}

double qvAPISecondsTimeStamp(uint64_t ticks) { return double(ticks) * kSecondsPerTick; }

}  // extern "C"
