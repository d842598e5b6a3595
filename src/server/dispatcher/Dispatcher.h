#pragma once
#include "core/component/QVBase.h"

namespace tarnix {

namespace exception {
class ExceptionCarrier;
}
class ServerContext;
namespace impl {
class DispatcherImpl;
}

// Carries replies, value changes and streamed samples from the trees to the
// sessions; component name "Dispatcher".
class Dispatcher : public QVBase {
public:
    Dispatcher(exception::ExceptionCarrier& carrier, ServerContext& context);
    impl::DispatcherImpl& impl() const;
};

}  // namespace tarnix
