#include "server/binary/BinaryProtocol.h"

#include "server/binary/BinaryEncoders.h"
#include "server/binary/IFaceDataBinary.h"

namespace tarnix {

ProtocolHooks makeBinaryProtocolHooks() {
    ProtocolHooks hooks;
    hooks.create = [](SessionActionsInterface& session) -> std::shared_ptr<IFaceDataBase> {
        return std::make_shared<IFaceDataBinary>(session);
    };
    hooks.greet = BinaryHello;
    hooks.input = InputBinaryMessage;
    hooks.valueEncode = BinaryValueEncode;
    hooks.streamEncode = BinaryStreamEncode;
    hooks.errorEncode = BinaryErrorEncode;
    return hooks;
}

}  // namespace tarnix
