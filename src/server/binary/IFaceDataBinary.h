#pragma once
#include "core/QVStatus.h"
#include "server/session/IFaceData.h"

#include <cstdint>
#include <string>
#include <vector>

namespace tarnix {

// The binary protocol of a session: cuts the received byte stream into
// messages (12-byte header, then the body), carries out each request against
// the node tree and answers it through the session. Values reach the client
// later as value events from the dispatcher. Runs on the session's thread.
class IFaceDataBinary : public IFaceDataBase {
public:
    // Largest message a client may send, header included.
    static constexpr uint32_t kInputBufferSize = 1048576;
    // Input room a session keeps between messages; the room of a larger
    // message grows with its bytes as they arrive and is let go after it.
    static constexpr uint32_t kKeptInputSize = 4096;
    // Longest path a request may name (the client library's limit); a longer
    // one is refused with an error reply.
    static constexpr uint32_t kMaxRequestPath = 256;

    enum InputState : int32_t { INPUT_HEADER = 0, INPUT_BODY = 1 };

    explicit IFaceDataBinary(SessionActionsInterface& session);

    // Resets the input state and writes MSG_HELLO. Returns 0.
    QV_STATUS hello();
    // One received chunk. Every complete message in it is carried out once, in
    // order; a failed request is logged and the next message follows. Returns
    // 0, or the first failure of the chunk. A header announcing fewer than 12
    // or more than kInputBufferSize bytes closes the session; all input after
    // it is ignored.
    int32_t input(const uint8_t* data, uint32_t length);
    // Carries out one request. Every request is answered with its sequence
    // id: one of a type without a handler, or whose body is shorter than its
    // fields, with MSG_ERROR_REPLY (command failed); a subscribe, unsubscribe
    // or list of a path that names nothing with MSG_ERROR_REPLY (not found).
    QV_STATUS dispatch(const uint8_t* body, uint32_t bodyLength, uint16_t type, uint16_t sequenceId);

    InputState inputState() const { return state_; }
    uint32_t received() const { return received_; }
    bool refused() const { return refused_; }

private:
    QV_STATUS messageComplete();
    void makeRoom(uint32_t needed);
    void releaseLargeInput();
    void refuse(uint32_t totalLength);
    QV_STATUS updateDevices(uint16_t sequenceId);
    QV_STATUS list(const std::string& path, uint32_t flags, uint16_t sequenceId);
    void writeReply(const uint8_t* reply, uint32_t length);
    void writeCountReply(uint16_t type, uint16_t sequenceId, uint32_t count);
    void writeEmptyReply(uint16_t type, uint16_t sequenceId);
    void writeErrorReply(uint16_t sequenceId, uint16_t code);

    InputState state_ = INPUT_HEADER;
    // The message being assembled: header, then body.
    std::vector<uint8_t> input_;
    uint32_t received_ = 0;
    uint32_t totalLength_ = 0;
    bool refused_ = false;
};

// The session's entry points for the binary protocol.
QV_STATUS BinaryHello(IFaceDataBase& protocol);
int32_t InputBinaryMessage(const uint8_t* data, uint32_t length, IFaceDataBase& protocol);
QV_STATUS BinaryCommandDispatch(IFaceDataBinary& protocol, const uint8_t* body, uint32_t bodyLength, uint16_t type,
                                uint16_t sequenceId);

}  // namespace tarnix
