#include "server/session/ProtocolTable.h"

namespace tarnix {

void ProtocolTable::set(InterfaceType type, ProtocolHooks hooks) {
    if (type == INTERFACE_NONE || type >= kInterfaceTypeCount) return;
    std::shared_ptr<const ProtocolHooks> entry;
    if (hooks.create || hooks.input || hooks.valueEncode || hooks.streamEncode)
        entry = std::make_shared<const ProtocolHooks>(std::move(hooks));
    LockGuard<Mutex> lock(mutex_);
    entries_[type] = std::move(entry);
}

std::shared_ptr<const ProtocolHooks> ProtocolTable::get(InterfaceType type) const {
    if (type >= kInterfaceTypeCount) return nullptr;
    LockGuard<Mutex> lock(mutex_);
    return entries_[type];
}

void setProtocolHooks(ProtocolTable& table, InterfaceType type, ProtocolHooks hooks) {
    table.set(type, std::move(hooks));
}

std::shared_ptr<const ProtocolHooks> getProtocolHooks(const ProtocolTable& table, InterfaceType type) {
    return table.get(type);
}

}  // namespace tarnix
