#pragma once
#include <string>

namespace tarnix {
namespace platform {

// Longest thread name the system keeps; longer names are cut to this length.
constexpr std::size_t kMaxThreadNameLength = 15;

// Names the calling thread so that debuggers, ps and top show it. A name the
// system refuses is silently ignored: the name is a diagnostic aid only.
void setCurrentThreadName(const std::string& name);

// The calling thread's name as the system reports it, empty when unknown.
std::string currentThreadName();

}  // namespace platform
}  // namespace tarnix
