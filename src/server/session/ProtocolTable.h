#pragma once
#include "core/QVStatus.h"
#include "server/session/IFaceData.h"
#include "platform/thread/Mutex.h"

#include <cstdint>
#include <array>
#include <functional>
#include <memory>
#include <string>

// The registry through which the client protocols plug into sessions and the
// dispatcher. One entry per InterfaceType (text, binary); INTERFACE_NONE has none.
namespace tarnix {

// Converts one value record for a session of the protocol. `data` is the
// record without its 12-byte head (for a tree-change record, DataType 16: the
// i32 change code and the 32-byte name), `outCapacity` the room in `out`. Sets `outLength`
// to the bytes produced, also when it fails part way; never writes beyond
// `outCapacity`. Returns 0 or a failure status (0x8010 when the output is full).
using ValueEncodeFunc = std::function<QV_STATUS(const std::string& path, uint16_t precision, uint16_t sequenceId,
                                                uint16_t dataType, uint8_t* out, uint32_t outCapacity,
                                                uint32_t& outLength, const uint8_t* data, uint32_t dataLength)>;

// Converts one block of streamed samples (or several joined blocks) the same way.
using StreamEncodeFunc =
    std::function<QV_STATUS(const std::string& path, uint16_t precision, uint16_t dataType, uint8_t* out,
                            uint32_t outCapacity, uint32_t& outLength, const uint8_t* data, uint32_t dataLength)>;

// Tells a session that a request it made got no value (a failed handler, or
// the tree's owner ended before taking it). Writes the protocol's answer for
// that into `out` and returns its length; 0 when the protocol says nothing.
using ErrorEncodeFunc =
    std::function<uint32_t(uint16_t sequenceId, QV_STATUS failure, uint8_t* out, uint32_t outCapacity)>;

struct ProtocolHooks {
    // Creates the protocol object for a session.
    std::function<std::shared_ptr<IFaceDataBase>(SessionActionsInterface& session)> create;
    // Greets the client right after creation (text greeting, binary hello);
    // a non-zero status makes the protocol switch fail.
    std::function<QV_STATUS(IFaceDataBase& protocol)> greet;
    IFaceInputFunc input;
    // Optional: releases per-protocol state before the object is dropped.
    std::function<void(IFaceDataBase& protocol)> release;

    ValueEncodeFunc valueEncode;
    StreamEncodeFunc streamEncode;
    // Optional.
    ErrorEncodeFunc errorEncode;
};

// The protocols of one server (ServerContext), one entry per InterfaceType.
class ProtocolTable {
public:
    ProtocolTable() = default;
    ProtocolTable(const ProtocolTable&) = delete;
    ProtocolTable& operator=(const ProtocolTable&) = delete;

    // Installs (or with empty hooks removes) the protocol for a type. Done once
    // at start-up, before sessions exist; tests may install stand-ins.
    void set(InterfaceType type, ProtocolHooks hooks);
    // The hooks of a type; null when none are installed. The returned entry
    // stays valid until the next set for that type.
    std::shared_ptr<const ProtocolHooks> get(InterfaceType type) const;

private:
    mutable Mutex mutex_;
    std::array<std::shared_ptr<const ProtocolHooks>, kInterfaceTypeCount> entries_ QV_GUARDED_BY(mutex_);
};

void setProtocolHooks(ProtocolTable& table, InterfaceType type, ProtocolHooks hooks);
std::shared_ptr<const ProtocolHooks> getProtocolHooks(const ProtocolTable& table, InterfaceType type);

// Installs the server's own protocols (text and, when present, binary).
void registerServerProtocols(ProtocolTable& table);

}  // namespace tarnix
