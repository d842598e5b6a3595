#pragma once

namespace tarnix {

// Lets the owners of trees hand replies straight to the asking session
// (DirectReplyDeliverer), converted for its protocol as the dispatcher would.
// Installed while the server runs.
class ServerContext;

void installDirectReplyDelivery(ServerContext& context);
void removeDirectReplyDelivery(ServerContext& context);

}  // namespace tarnix
