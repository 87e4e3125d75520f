#pragma once
// Which sanitizer the build runs under, for the few checks that measure the process itself
// (its size, its heap) and for inputs scaled down where every allocation is slow.

#if defined(__SANITIZE_ADDRESS__)
#define TRELMO_TEST_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TRELMO_TEST_ASAN 1
#endif
#endif

namespace trelmo::test {

#ifdef TRELMO_TEST_ASAN
inline constexpr bool kAddressSanitizer = true;
#else
inline constexpr bool kAddressSanitizer = false;
#endif

}  // namespace trelmo::test
