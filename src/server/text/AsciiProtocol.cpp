#include "server/text/AsciiProtocol.h"

#include "server/text/AsciiEncoders.h"
#include "server/text/IFaceDataAscii.h"

namespace tarnix {

ProtocolHooks makeAsciiProtocolHooks() {
    ProtocolHooks hooks;
    hooks.create = [](SessionActionsInterface& session) -> std::shared_ptr<IFaceDataBase> {
        return std::make_shared<IFaceDataAscii>(session);
    };
    hooks.greet = AsciiGreeting;
    hooks.input = AsciiInput;
    hooks.valueEncode = AsciiValueEncode;
    hooks.streamEncode = AsciiStreamEncode;
    hooks.errorEncode = AsciiErrorEncode;
    return hooks;
}

}  // namespace tarnix
