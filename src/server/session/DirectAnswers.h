#pragma once
#include "core/tree/RequestPosting.h"
#include "server/session/IFaceData.h"

namespace tarnix {

// Writes the answers that a tree gives at once (DispatcherTree::directRead)
// to the protocol's session, converted as the dispatcher would convert them,
// as replies (write class 1), without waiting: the tree hands them over under
// the lock that orders them against its pushes.
DirectAnswer DirectAnswersTo(IFaceDataBase& protocol);

}  // namespace tarnix
