#pragma once
// Whether this test program (and so the programs of the same build that it
// starts) runs under a sanitizer, whose allocator and speed differ.

namespace tarnix {
namespace test {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitizerBuild = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
constexpr bool kSanitizerBuild = true;
#else
constexpr bool kSanitizerBuild = false;
#endif
#else
constexpr bool kSanitizerBuild = false;
#endif

}  // namespace test
}  // namespace tarnix
