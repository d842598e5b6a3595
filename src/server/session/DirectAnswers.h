#pragma once
#include "core/tree/RequestPosting.h"
#include "server/session/IFaceData.h"

namespace tarnix {

// Writes the answers that a tree gives at once (DispatcherTree::directRead)
// to the protocol's session, converted as the dispatcher would convert them,
// as replies (write class 1).
DirectAnswer DirectAnswersTo(IFaceDataBase& protocol);

}  // namespace tarnix
