#pragma once
#include "server/session/ProtocolTable.h"

namespace tarnix {

// The text protocol's entry in the protocol table: creation, greeting, input
// and the dispatcher's encoders.
ProtocolHooks makeAsciiProtocolHooks();

}  // namespace tarnix
