#pragma once
// Thread-safety annotations for clang's -Wthread-safety analysis: they name
// the lock that guards a piece of data and the locks a function expects.
// The analysis needs lock types that declare themselves capabilities (as
// libc++'s standard mutexes do with _LIBCPP_ENABLE_THREAD_SAFETY_ANNOTATIONS);
// QV_THREAD_SAFETY_ANALYSIS switches the annotations on for such a build.
// Elsewhere they compile to nothing and still tell the reader the rule.

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
