#include "platform/thread/ThreadName.h"

#include <pthread.h>

namespace tarnix {
namespace platform {

void setCurrentThreadName(const std::string& name) {
    const std::string kept = name.substr(0, kMaxThreadNameLength);
    (void)pthread_setname_np(pthread_self(), kept.c_str());
}

std::string currentThreadName() {
    char buffer[kMaxThreadNameLength + 1] = {};
    if (pthread_getname_np(pthread_self(), buffer, sizeof buffer) != 0) return std::string();
    return buffer;
}

}  // namespace platform
}  // namespace tarnix
