#pragma once
// What the kernel says about a thread of the test process, for tests that
// must know that another thread has come to block: a thread that waits for a
// lock or a condition sleeps, and nothing else in the test shows it.
#include <sys/syscall.h>
#include <sys/types.h>
#include <unistd.h>

#include <fstream>
#include <string>

namespace tarnix {
namespace test {

// The kernel's id of the calling thread.
inline pid_t currentThreadId() { return pid_t(::syscall(SYS_gettid)); }

// True while the thread with kernel id `tid` sleeps (waits for a lock, a
// condition or input); false while it runs and once it has ended.
inline bool threadSleeps(pid_t tid) {
    std::ifstream stat("/proc/self/task/" + std::to_string(tid) + "/stat");
    std::string text;
    std::getline(stat, text);
    // "tid (name) state ...": the name may hold anything, so the state is the
    // first field after the last parenthesis.
    const std::string::size_type close = text.rfind(')');
    if (close == std::string::npos || close + 2 >= text.size()) return false;
    const char state = text[close + 2];
    return state == 'S' || state == 'D';
}

}  // namespace test
}  // namespace tarnix
