#pragma once
#include <memory>

namespace tarnix {

namespace impl {
class QVBaseImpl;
}

// Facade base of every active component. A concrete component derives from
// it and hands a freshly made implementation to this constructor:
//
//   class Listener : public QVBase {
//   public:
//       explicit Listener(exception::ExceptionCarrier& carrier)
//           : QVBase(std::make_shared<impl::ListenerImpl>(carrier)) {}
//       impl::ListenerImpl& impl() const { return implAs<impl::ListenerImpl>(); }
//   };
//
// The facade owns the implementation; the implementation owns its worker
// thread and its children. Keep a facade until isFinished() reports true.
class QVBase {
public:
    explicit QVBase(std::shared_ptr<impl::QVBaseImpl> implementation);
    virtual ~QVBase();
    QVBase(const QVBase&) = delete;
    QVBase& operator=(const QVBase&) = delete;

    // Starts the component's own thread, then its children.
    virtual void start();
    // Asks the children, then the component itself, to stop after the current
    // pass. Does not wait.
    virtual void stop();
    virtual bool isIllegal() const;
    // The thread entry points, forwarded to the implementation.
    virtual void pre();
    virtual void run();
    // True once the component's thread and, recursively, all its children's
    // threads have ended (also before start).
    virtual bool isFinished() const;
    // Class log of the implementation, then of every child (depth first).
    virtual void logClassData() const;

    void setLoopStatistic(bool enabled);

    const std::shared_ptr<impl::QVBaseImpl>& implementation() const { return impl_; }

protected:
    template <class Impl>
    Impl& implAs() const {
        return static_cast<Impl&>(*impl_);
    }
    template <class Impl>
    std::shared_ptr<Impl> implSharedAs() const {
        return std::static_pointer_cast<Impl>(impl_);
    }

private:
    std::shared_ptr<impl::QVBaseImpl> impl_;
};

}  // namespace tarnix
