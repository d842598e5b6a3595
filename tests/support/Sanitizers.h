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

// The address sanitizer build also checks undefined behaviour. Its dynamic
// type checks test memory through a pipe, so in a process without a free
// descriptor they report a fault where there is none and end the program.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kAddressSanitizerBuild = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kAddressSanitizerBuild = true;
#else
constexpr bool kAddressSanitizerBuild = false;
#endif
#else
constexpr bool kAddressSanitizerBuild = false;
#endif

}  // namespace test
}  // namespace tarnix
