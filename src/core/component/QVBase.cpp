#include "core/component/QVBase.h"

#include "core/component/QVBaseImpl.h"

namespace tarnix {

QVBase::QVBase(std::shared_ptr<impl::QVBaseImpl> implementation) : impl_(std::move(implementation)) {
    ThreadClass::create(impl_);
}

QVBase::~QVBase() = default;

void QVBase::start() { impl_->start(); }
void QVBase::stop() { impl_->stop(); }
bool QVBase::isIllegal() const { return impl_->isIllegal(); }
void QVBase::pre() { impl_->pre(); }
void QVBase::run() { impl_->run(); }
bool QVBase::isFinished() const { return impl_->isFinished(); }
void QVBase::logClassData() const { impl_->logClassDataTree(); }
void QVBase::setLoopStatistic(bool enabled) { impl_->setLoopStatistic(enabled); }

}  // namespace tarnix
