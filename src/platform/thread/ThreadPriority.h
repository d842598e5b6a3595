#pragma once

namespace tarnix {
namespace platform {

// The three priority classes a component asks for.
enum class ThreadPriority { Lowest = -1, Normal = 0, TimeCritical = 1 };

// Applies the priority class to the calling thread. Returns false when the
// system refused (typically time-critical in an unprivileged process); the
// thread then keeps running at a priority no worse than normal.
//
// Linux mapping, chosen so that an unprivileged process can always move a
// thread back up to normal (new threads inherit their creator's settings):
//   Lowest       -> SCHED_BATCH at the process's base nice value
//   Normal       -> SCHED_OTHER at the process's base nice value
//   TimeCritical -> SCHED_OTHER at base nice - 10 (needs CAP_SYS_NICE or a
//                   large enough RLIMIT_NICE)
bool setCurrentThreadPriority(ThreadPriority priority);

}  // namespace platform
}  // namespace tarnix
