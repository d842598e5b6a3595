#pragma once
#include "server/session/ProtocolTable.h"

namespace tarnix {

// The binary protocol's entry in the protocol table: creation, hello, input
// and the dispatcher's encoders.
ProtocolHooks makeBinaryProtocolHooks();

}  // namespace tarnix
