#include "server/session/ProtocolTable.h"

#include <array>
#include <mutex>

namespace tarnix {
namespace {

struct Table {
    std::mutex mutex;
    std::array<std::shared_ptr<const ProtocolHooks>, kInterfaceTypeCount> entries;
};

Table& table() {
    static Table instance;
    return instance;
}

}  // namespace

void setProtocolHooks(InterfaceType type, ProtocolHooks hooks) {
    if (type == INTERFACE_NONE || type >= kInterfaceTypeCount) return;
    std::shared_ptr<const ProtocolHooks> entry;
    if (hooks.create || hooks.input || hooks.valueEncode || hooks.streamEncode)
        entry = std::make_shared<const ProtocolHooks>(std::move(hooks));
    std::lock_guard<std::mutex> lock(table().mutex);
    table().entries[type] = std::move(entry);
}

std::shared_ptr<const ProtocolHooks> getProtocolHooks(InterfaceType type) {
    if (type >= kInterfaceTypeCount) return nullptr;
    std::lock_guard<std::mutex> lock(table().mutex);
    return table().entries[type];
}

}  // namespace tarnix
