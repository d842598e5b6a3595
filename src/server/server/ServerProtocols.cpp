#include "server/binary/BinaryProtocol.h"
#include "server/session/ProtocolTable.h"
#include "server/text/AsciiProtocol.h"

namespace tarnix {

void registerServerProtocols() {
    setProtocolHooks(INTERFACE_TEXT, makeAsciiProtocolHooks());
    setProtocolHooks(INTERFACE_BINARY, makeBinaryProtocolHooks());
}

}  // namespace tarnix
