#include "server/binary/BinaryProtocol.h"
#include "server/session/ProtocolTable.h"
#include "server/text/AsciiProtocol.h"

namespace tarnix {

void registerServerProtocols(ProtocolTable& table) {
    setProtocolHooks(table, INTERFACE_TEXT, makeAsciiProtocolHooks());
    setProtocolHooks(table, INTERFACE_BINARY, makeBinaryProtocolHooks());
}

}  // namespace tarnix
