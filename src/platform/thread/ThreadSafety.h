#pragma once
// Thread-safety annotations for clang's -Wthread-safety analysis: they name
// the lock that guards a piece of data and the locks a function expects.
// The analysis sees only lock types that declare themselves capabilities:
// the wrappers in platform/thread/Mutex.h do, the standard library's mutexes
// (libstdc++) do not. QV_THREAD_SAFETY_ANALYSIS switches the annotations on
// (the QV_THREAD_SAFETY build); elsewhere they compile to nothing and still
// tell the reader the rule.

#if defined(__clang__) && defined(QV_THREAD_SAFETY_ANALYSIS)
#define QV_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define QV_THREAD_ANNOTATION(x)
#endif

// The member is read and written only with the named lock held.
#define QV_GUARDED_BY(lock) QV_THREAD_ANNOTATION(guarded_by(lock))
// What the pointer points to is guarded by the named lock.
#define QV_PT_GUARDED_BY(lock) QV_THREAD_ANNOTATION(pt_guarded_by(lock))
// The function must be called with the named lock held (exclusively / shared).
#define QV_REQUIRES(...) QV_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
#define QV_REQUIRES_SHARED(...) QV_THREAD_ANNOTATION(requires_shared_capability(__VA_ARGS__))
// The function takes the named lock itself, so it must not be held by the caller.
#define QV_EXCLUDES(...) QV_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))

// For lock types and the functions that take and release them.
#define QV_CAPABILITY(name) QV_THREAD_ANNOTATION(capability(name))
#define QV_SCOPED_CAPABILITY QV_THREAD_ANNOTATION(scoped_lockable)
#define QV_ACQUIRE(...) QV_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define QV_ACQUIRE_SHARED(...) QV_THREAD_ANNOTATION(acquire_shared_capability(__VA_ARGS__))
#define QV_RELEASE(...) QV_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
#define QV_RELEASE_SHARED(...) QV_THREAD_ANNOTATION(release_shared_capability(__VA_ARGS__))
#define QV_TRY_ACQUIRE(...) QV_THREAD_ANNOTATION(try_acquire_capability(__VA_ARGS__))
#define QV_TRY_ACQUIRE_SHARED(...) QV_THREAD_ANNOTATION(try_acquire_shared_capability(__VA_ARGS__))
// The function returns (a reference to) the named lock.
#define QV_RETURN_CAPABILITY(lock) QV_THREAD_ANNOTATION(lock_returned(lock))
// The function checks at run time that the named lock is held (and throws or
// aborts otherwise); the analysis takes it as held from then on.
#define QV_ASSERT_CAPABILITY(lock) QV_THREAD_ANNOTATION(assert_capability(lock))
#define QV_ASSERT_SHARED_CAPABILITY(lock) QV_THREAD_ANNOTATION(assert_shared_capability(lock))
// The analysis skips this function; say next to it why its locking is right.
#define QV_NO_THREAD_SAFETY_ANALYSIS QV_THREAD_ANNOTATION(no_thread_safety_analysis)
