#include "platform/thread/ThreadPriority.h"

#include <algorithm>
#include <cerrno>
#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace tarnix {
namespace platform {

namespace {

constexpr int kTimeCriticalBoost = 10;
constexpr int kHighestNice = -20;

// The nice value of the process's main thread; new threads start from their
// creator's value, but "normal" always means this one.
int processBaseNice() {
    static const int base = [] {
        errno = 0;
        const int value = getpriority(PRIO_PROCESS, static_cast<id_t>(getpid()));
        return errno == 0 ? value : 0;
    }();
    return base;
}

// Linux keeps nice values per thread; PRIO_PROCESS with a thread id addresses
// exactly that thread.
bool setOwnNice(int nice) {
    const id_t tid = static_cast<id_t>(syscall(SYS_gettid));
    return setpriority(PRIO_PROCESS, tid, nice) == 0;
}

bool setOwnPolicy(int policy) {
    sched_param param{};
    param.sched_priority = 0;
    return sched_setscheduler(0, policy, &param) == 0;
}

}  // namespace

bool setCurrentThreadPriority(ThreadPriority priority) {
    const int base = processBaseNice();
    switch (priority) {
        case ThreadPriority::Lowest:
            return setOwnPolicy(SCHED_BATCH) && setOwnNice(base);
        case ThreadPriority::Normal:
            return setOwnPolicy(SCHED_OTHER) && setOwnNice(base);
        case ThreadPriority::TimeCritical: {
            const bool policySet = setOwnPolicy(SCHED_OTHER);
            if (setOwnNice(std::max(kHighestNice, base - kTimeCriticalBoost))) return policySet;
            // Refused: stay no worse than normal.
            setOwnNice(base);
            return false;
        }
    }
    return false;
}

}  // namespace platform
}  // namespace tarnix
